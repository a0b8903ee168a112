#include "production/NumberingLedger.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "config/CompStream.h"
#include "platform/Text.h"

namespace korvel {

namespace {
constexpr const char* kTX = "TX";
constexpr const char* kKeys[kGeneratorSlots] = {"RXSNINFO", "TXSNINFO", "RXRFIDINFO", "TXRFIDINFO"};

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// "  Name = Value" of the saved form, as written (a setter may have ignored it).
std::optional<int64_t> Listed(const std::string& value, const std::string& name) {
  const std::string marker = ";  " + name + " = ";
  const size_t at = value.find(marker);
  if (at == std::string::npos) return std::nullopt;
  const size_t from = at + marker.size();
  const std::string number = value.substr(from, value.find(';', from) - from);
  try {
    size_t used = 0;
    const int64_t v = std::stoll(number, &used);
    if (used == number.size()) return v;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

Phrase CountsProblem(const std::string& value, const TProdSN& sn) {
  const int64_t total = sn.IsDate() ? 4 : 6;
  const auto fix = Listed(value, "FixSNByteCount");
  const auto inc = Listed(value, "IncSNByteCount");
  for (const auto& [name, v] : {std::pair{"FixSNByteCount", fix}, std::pair{"IncSNByteCount", inc}})
    if (v && (*v < 0 || *v > total)) return Say("{0} = {1} is outside 0..{2}", name, *v, total);
  if (fix && inc && *fix + *inc != total)
    return sn.IsDate() ? Say("FixSNByteCount = {0} and IncSNByteCount = {1} do not add up to the "
                             "{2} bytes of a serial with a date",
                             *fix, *inc, total)
                       : Say("FixSNByteCount = {0} and IncSNByteCount = {1} do not add up to the "
                             "{2} bytes of a serial without a date",
                             *fix, *inc, total);
  return {};
}

// A start is a value; the others may be one below the start (-1 before a start of 0).
Phrase CounterProblem(const char* name, int64_t v, int64_t max, const Phrase& room) {
  const int64_t min = std::string_view(name).find("Init") != std::string_view::npos ? 0 : -1;
  if (v >= min && v <= max) return {};
  return Say("{0} = {1} does not fit in {2} (0..{3} hex)", name, v, room,
             HexText(uint64_t(max), 1));
}

// A counter as the file wrote it: the restore's setters may have moved it into another
// property (IncInitRFID = -1 leaves IncPrevRFID at -2), and the engineer must see what they
// wrote.
Phrase ListedCounterProblem(const std::string& value, std::initializer_list<const char*> names,
                            int64_t max, const Phrase& room) {
  for (const char* name : names)
    if (const auto v = Listed(value, name))
      if (Phrase p = CounterProblem(name, *v, max, room); !p.empty()) return p;
  return {};
}

Phrase ListedProblem(const std::string& value, const TProdSN& sn) {
  const int inc = sn.IncSNByteCount();
  if (inc <= 0 || inc > 6) return {};
  return ListedCounterProblem(value, {"IncCurrentSN", "IncPrevSN", "IncInitSN"},
                              int64_t((uint64_t(1) << (8 * inc)) - 1), Say("{0} bytes", inc));
}

Phrase ListedProblem(const std::string& value, const TProdRFID& id) {
  if (id.IsRandom()) return {};
  return ListedCounterProblem(value, {"IncCurrentRFID", "IncPrevRFID", "IncInitRFID"}, kLinkIdMask,
                              Say("a 24-bit link ID"));
}

template <typename T>
void LoadGenerator(const IniFile& ini, const char* key, T& generator, Phrase& problem,
                   std::string& unread) {
  const std::string value = ini.ReadString(kTX, key, "");
  if (value.empty()) {
    generator = T();
    return;
  }
  ComponentResult built = TextToComponent(Replace(value, ";", "\r\n"));
  T* typed = dynamic_cast<T*>(built.object.get());
  if (!typed) {
    problem = built.error.empty()
                  ? Say("holds a {0}, not a {1}", built.object->Class().name, T::ClassInfo().name)
                  : built.error;
    generator = T();
    unread = value;
    return;
  }
  generator = std::move(*typed);
}
}  // namespace

const char* GeneratorKey(GeneratorSlot slot) {
  return kKeys[size_t(slot)];
}

Phrase SerialGeneratorProblem(const TProdSN& sn) {
  const int32_t total = sn.IsDate() ? 4 : 6;
  const int32_t fix = sn.FixSNByteCount(), inc = sn.IncSNByteCount();
  if (fix < 0 || inc < 0 || fix + inc != total)
    return Say(
        "FixSNByteCount = {0} and IncSNByteCount = {1} do not make the {2} bytes of a "
        "serial",
        fix, inc, total);
  // A fixed part wider than its bytes gives its low bytes (the date may have taken two of
  // them): no number can repeat through it, so it is no problem.
  if (inc == 0) return {};  // no counter
  const int64_t max = int64_t((uint64_t(1) << (8 * inc)) - 1);
  const Phrase room = Say("{0} bytes", inc);
  if (sn.IncInitSN() < 0) return Say("IncInitSN = {0} is negative", sn.IncInitSN());
  // The current value first: a restore copies it into the previous one.
  for (const auto& [name, v] :
       {std::pair{"IncCurrentSN", sn.IncCurrentSN()}, std::pair{"IncPrevSN", sn.IncPrevSN()},
        std::pair{"IncInitSN", sn.IncInitSN()}})
    if (Phrase p = CounterProblem(name, v, max, room); !p.empty()) return p;
  return {};
}

Phrase LinkIdGeneratorProblem(const TProdRFID& id) {
  if (id.IsRandom()) return {};  // the counters are not used
  for (const auto& [name, v] :
       {std::pair{"IncCurrentRFID", id.IncCurrentRFID()},
        std::pair{"IncPrevRFID", id.IncPrevRFID()}, std::pair{"IncInitRFID", id.IncInitRFID()}})
    if (Phrase p = CounterProblem(name, v, kLinkIdMask, Say("a 24-bit link ID")); !p.empty())
      return p;
  return {};
}

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
  unit.rxSerialShared = unit.rxSerialOn && generators_.RxSN.IncSNByteCount() == 0;
  unit.txSerialShared = unit.txSerialOn && generators_.TxSN.IncSNByteCount() == 0;
  for (int j = 0; j < 6; ++j) {
    unit.rxSerial[size_t(j)] = generators_.RxSN.GetSNByte(j);
    unit.txSerial[size_t(j)] = generators_.TxSN.GetSNByte(j);
  }
  unit.rxSerialText = generators_.RxSN.GetSNText();
  unit.txSerialText = generators_.TxSN.GetSNText();
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

namespace {
TProdSN& Serial(Generators& g, GeneratorSlot slot) {
  return slot == GeneratorSlot::RxSN ? g.RxSN : g.TxSN;
}
TProdRFID& LinkId(Generators& g, GeneratorSlot slot) {
  return slot == GeneratorSlot::RxRFID ? g.RxRFID : g.TxRFID;
}
}  // namespace

void NumberingLedger::NewSerialStart(GeneratorSlot slot, int64_t start) {
  TProdSN& sn = Serial(generators_, slot);
  sn.SetIncInitSN(start);
  // A saved current value outranks the start when the file is read back.
  sn.SetIncCurrentSN(start - 1);
  Edited(slot);
}

void NumberingLedger::NewLinkIdStart(GeneratorSlot slot, int32_t start) {
  TProdRFID& id = LinkId(generators_, slot);
  id.SetIncInitRFID(start);
  id.SetIncCurrentRFID(start - 1);
  Edited(slot);
}

void NumberingLedger::Edited(GeneratorSlot slot) {
  unreadText_[size_t(slot)].clear();
  Validate(slot);
}

void NumberingLedger::Validate(GeneratorSlot slot) {
  Phrase& problem = problems_[size_t(slot)];
  if (!unreadText_[size_t(slot)].empty()) return;  // keeps why it could not be read
  switch (slot) {
    case GeneratorSlot::RxSN:
    case GeneratorSlot::TxSN:
      problem = SerialGeneratorProblem(Serial(generators_, slot));
      break;
    default:
      problem = LinkIdGeneratorProblem(LinkId(generators_, slot));
      break;
  }
}

std::optional<int64_t> NumberingLedger::NumbersLeft(GeneratorSlot slot) const {
  const Generators& g = generators_;
  if (slot == GeneratorSlot::RxSN || slot == GeneratorSlot::TxSN) {
    const TProdSN& sn = slot == GeneratorSlot::RxSN ? g.RxSN : g.TxSN;
    const int count = sn.IncSNByteCount();
    if (!sn.IsSN() || count <= 0 || count > 6) return std::nullopt;
    const int64_t modulus = int64_t(1) << (8 * count);
    const int64_t next = sn.IncNextSN();
    return std::min(kWrapWarningLeft, next < 0 ? modulus : modulus - next);
  }
  const TProdRFID& id = slot == GeneratorSlot::RxRFID ? g.RxRFID : g.TxRFID;
  if (id.IsRandom()) return std::nullopt;
  // Reserved IDs are skipped on the way up: count the ones a unit can get.
  int64_t left = 0;
  for (int64_t c = std::max<int64_t>(int64_t(id.IncPrevRFID()) + 1, 0);
       c <= int64_t(kLinkIdMask) && left < kWrapWarningLeft; ++c)
    left += IsAcceptableLinkId(uint32_t(c)) ? 1 : 0;
  return left;
}

Phrase NumberingLedger::WrapWarning() const {
  const Phrase what[kGeneratorSlots] = {Say("RX serial"), Say("TX serial"), Say("RX link ID"),
                                        Say("TX link ID")};
  std::vector<Phrase> lines;
  for (size_t i = 0; i < kGeneratorSlots; ++i) {
    const auto left = NumbersLeft(GeneratorSlot(i));
    if (!left || *left >= kWrapWarningLeft) continue;
    lines.push_back(
        i < 2
            ? Say("{0}: {1} numbers left before the counter comes round to 0", what[i], *left)
            : Say("{0}: {1} IDs left before the counter comes round past FFFFFF", what[i], *left));
  }
  return lines.empty() ? Phrase() : JoinLines(lines);
}

Phrase NumberingLedger::BlockingProblem() const {
  const Generators& g = generators_;
  const bool used[kGeneratorSlots] = {g.RxSN.IsSN(), g.TxSN.IsSN(), !g.RxRFID.IsRandom(),
                                      !g.TxRFID.IsRandom()};
  for (size_t i = 0; i < kGeneratorSlots; ++i) {
    if (problems_[i].empty() || !(used[i] || !unreadText_[i].empty())) continue;
    return Say("{0}: {1}", kKeys[i], problems_[i]);
  }
  return {};
}

void NumberingLedger::Load(const IniFile* ini, SettingsLoadReport& report) {
  problems_ = {};
  unreadText_ = {};
  fileValues_ = {};
  if (!ini) {
    generators_ = Generators{};
  } else {
    Generators& g = generators_;
    LoadGenerator(*ini, kKeys[0], g.RxSN, problems_[0], unreadText_[0]);
    LoadGenerator(*ini, kKeys[1], g.TxSN, problems_[1], unreadText_[1]);
    LoadGenerator(*ini, kKeys[2], g.RxRFID, problems_[2], unreadText_[2]);
    LoadGenerator(*ini, kKeys[3], g.TxRFID, problems_[3], unreadText_[3]);
    for (size_t i = 0; i < kGeneratorSlots; ++i) {
      fileValues_[i] = ini->ReadString(kTX, kKeys[i], "");
      Validate(GeneratorSlot(i));
    }
    // The restore ignores a count out of range and moves counters between properties; the
    // file still says what it says, and that is what the engineer must see.
    for (size_t i = 0; i < kGeneratorSlots; ++i) {
      if (!unreadText_[i].empty()) continue;
      const GeneratorSlot slot = GeneratorSlot(i);
      Phrase p = i < 2 ? CountsProblem(fileValues_[i], Serial(g, slot)) : Phrase();
      if (p.empty())
        p = i < 2 ? ListedProblem(fileValues_[i], Serial(g, slot))
                  : ListedProblem(fileValues_[i], LinkId(g, slot));
      if (!p.empty()) problems_[i] = p;
    }
    for (size_t i = 0; i < kGeneratorSlots; ++i)
      if (!problems_[i].empty()) report.badGenerators.push_back({kKeys[i], problems_[i]});
  }
  ApplyDate();
}

Phrase NumberingLedger::CheckBeforeStore(const IniFile& ini) {
  for (size_t i = 0; i < kGeneratorSlots; ++i)
    if (ini.ReadString(kTX, kKeys[i], "") != fileValues_[i])
      return Say(
          "{0} in the settings file was changed by another program since this station "
          "read it; not written over (Load Setting takes the file's numbering)",
          kKeys[i]);
  return {};
}

void NumberingLedger::Store(IniFile& ini) {
  Generators& g = generators_;
  const TPersistentComponent* objects[kGeneratorSlots] = {&g.RxSN, &g.TxSN, &g.RxRFID, &g.TxRFID};
  for (size_t i = 0; i < kGeneratorSlots; ++i) {
    if (!unreadText_[i].empty()) {
      pendingValues_[i] = unreadText_[i];  // nothing lost: the file keeps what it had
    } else {
      if (i >= 2) {
        TProdRFID& id = LinkId(g, GeneratorSlot(i));
        id.SetIncInitRFID(id.NextRFID());
      }
      pendingValues_[i] = GeneratorToIniValue(*objects[i]);
    }
    ini.WriteString(kTX, kKeys[i], pendingValues_[i]);
  }
}

}  // namespace korvel
