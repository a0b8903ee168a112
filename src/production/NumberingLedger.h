// The four generators: what the next unit gets, and the commit after it passed. TX.ini keeps
// them beside the settings; the window's Go and the companion's "next" draw from here alike.
#pragma once

#include <array>
#include <string>

#include "config/Settings.h"
#include "production/ProdRFID.h"
#include "production/ProdSN.h"

namespace korvel {

struct Generators {
  TProdSN RxSN;
  TProdSN TxSN;
  TProdRFID RxRFID;
  TProdRFID TxRFID;
};

// One unit's identity.
struct UnitNumbers {
  bool rxSerialOn = false;  // the generator's IsSN when drawn
  bool txSerialOn = false;
  std::array<uint8_t, 6> rxSerial{};
  std::array<uint8_t, 6> txSerial{};
  std::string rxSerialText;  // as shown; empty when the serial is off
  std::string txSerialText;
  uint32_t rxId = 0;  // 24-bit link IDs: A from the RX generator,
  uint32_t txId = 0;  // B from the TX one, moved on when it clashes with A
};

class NumberingLedger final : public IniPart {
 public:
  NumberingLedger();

  Generators& Gen() { return generators_; }
  const Generators& Gen() const { return generators_; }
  // The date the serials carry (tests and the companion fix it); kept across loads.
  void SetDateSource(DateSource source);

  // The next unit's numbers; changes nothing. Random link IDs are drawn afresh each time.
  UnitNumbers Draw() const;
  // After a passed unit: each generator moves on past what that unit got.
  void Commit(const UnitNumbers& unit);

  // TX.ini's RXSNINFO, TXSNINFO, RXRFIDINFO and TXRFIDINFO. A value that cannot be built, or
  // is of the other class, starts that generator from its defaults and is reported.
  void Load(const IniFile* ini, SettingsLoadReport& report) override;
  // Each link-ID generator's start moves up to its next ID before it is saved.
  void Store(IniFile& ini) override;

 private:
  void ApplyDate();

  Generators generators_;
  DateSource date_;
};

// Registers TProdSN and TProdRFID for the component text form.
void RegisterGeneratorClasses();
// Generator <-> one INI value (CR LF as ';').
std::string GeneratorToIniValue(const TPersistentComponent& generator);

}  // namespace korvel
