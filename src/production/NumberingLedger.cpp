#include "production/NumberingLedger.h"

#include "config/CompStream.h"

namespace korvel {

namespace {
constexpr const char* kTX = "TX";

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

template <typename T>
void LoadGenerator(const IniFile& ini, const char* key, T& generator, SettingsLoadReport& report) {
  const std::string value = ini.ReadString(kTX, key, "");
  if (value.empty()) {
    generator = T();
    return;
  }
  ComponentResult built = TextToComponent(Replace(value, ";", "\r\n"));
  T* typed = dynamic_cast<T*>(built.object.get());
  if (!typed) {
    report.badGenerators.push_back(
        {key, built.error.empty()
                  ? "holds a " + built.object->Class().name + ", not a " + T::ClassInfo().name
                  : built.error});
    generator = T();
    return;
  }
  generator = std::move(*typed);
}

std::string SerialText(const TProdSN& sn) {
  return sn.GetSNText();
}
}  // namespace

void RegisterGeneratorClasses() {
  RegisterComponentClass(TProdSN::ClassInfo());
  RegisterComponentClass(TProdRFID::ClassInfo());
}

std::string GeneratorToIniValue(const TPersistentComponent& generator) {
  return Replace(ComponentToText(generator), "\r\n", ";");
}

NumberingLedger::NumberingLedger() {
  RegisterGeneratorClasses();
}

void NumberingLedger::SetDateSource(DateSource source) {
  date_ = std::move(source);
  ApplyDate();
}

void NumberingLedger::ApplyDate() {
  if (!date_) return;
  generators_.RxSN.SetDateSource(date_);
  generators_.TxSN.SetDateSource(date_);
}

UnitNumbers NumberingLedger::Draw() const {
  UnitNumbers unit;
  unit.rxSerialOn = generators_.RxSN.IsSN();
  unit.txSerialOn = generators_.TxSN.IsSN();
  for (int j = 0; j < 6; ++j) {
    unit.rxSerial[size_t(j)] = generators_.RxSN.GetSNByte(j);
    unit.txSerial[size_t(j)] = generators_.TxSN.GetSNByte(j);
  }
  unit.rxSerialText = SerialText(generators_.RxSN);
  unit.txSerialText = SerialText(generators_.TxSN);
  // On a clash the TX side takes the next acceptable ID, never a reserved one.
  unit.rxId = uint32_t(generators_.RxRFID.NextRFID()) & kLinkIdMask;
  unit.txId = TxLinkIdFor(unit.rxId, uint32_t(generators_.TxRFID.NextRFID()) & kLinkIdMask);
  return unit;
}

void NumberingLedger::Commit(const UnitNumbers& unit) {
  generators_.RxSN.Commit();
  generators_.TxSN.Commit();
  generators_.RxRFID.Commit(int32_t(unit.rxId));
  generators_.TxRFID.Commit(int32_t(unit.txId));
}

void NumberingLedger::Load(const IniFile* ini, SettingsLoadReport& report) {
  if (!ini) {
    generators_ = Generators{};
  } else {
    LoadGenerator(*ini, "RXSNINFO", generators_.RxSN, report);
    LoadGenerator(*ini, "TXSNINFO", generators_.TxSN, report);
    LoadGenerator(*ini, "RXRFIDINFO", generators_.RxRFID, report);
    LoadGenerator(*ini, "TXRFIDINFO", generators_.TxRFID, report);
  }
  ApplyDate();
}

void NumberingLedger::Store(IniFile& ini) {
  Generators& g = generators_;
  g.RxRFID.SetIncInitRFID(g.RxRFID.NextRFID());
  g.TxRFID.SetIncInitRFID(g.TxRFID.NextRFID());
  ini.WriteString(kTX, "RXSNINFO", GeneratorToIniValue(g.RxSN));
  ini.WriteString(kTX, "TXSNINFO", GeneratorToIniValue(g.TxSN));
  ini.WriteString(kTX, "RXRFIDINFO", GeneratorToIniValue(g.RxRFID));
  ini.WriteString(kTX, "TXRFIDINFO", GeneratorToIniValue(g.TxRFID));
}

}  // namespace korvel
