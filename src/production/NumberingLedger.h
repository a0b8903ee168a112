// The four generators: what the next unit gets, and the commit after it passed. TX.ini keeps
// them beside the settings; the window's Go and the companion's "next" draw from here alike.
#pragma once

#include <array>
#include <optional>
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
  // A serial with no incrementing part is a batch code: every unit gets the same one.
  bool rxSerialShared = false;
  bool txSerialShared = false;
  std::array<uint8_t, 6> rxSerial{};
  std::array<uint8_t, 6> txSerial{};
  std::string rxSerialText;  // as shown; empty when the serial is off
  std::string txSerialText;
  uint32_t rxId = 0;  // 24-bit link IDs: A from the RX generator,
  uint32_t txId = 0;  // B from the TX one, moved on when it clashes with A
};

// The four generators in the order TX.ini keeps them.
enum class GeneratorSlot { RxSN, TxSN, RxRFID, TxRFID };
constexpr size_t kGeneratorSlots = 4;
// Below this many numbers before a counter comes round, the station warns.
constexpr int64_t kWrapWarningLeft = 100;
// Its TX.ini key ("RXSNINFO", ...).
const char* GeneratorKey(GeneratorSlot slot);

// Why a generator cannot number units (empty when it can): byte counts outside their ranges
// or not adding up to the serial, counters that do not fit their byte count.
Phrase SerialGeneratorProblem(const TProdSN& sn);
Phrase LinkIdGeneratorProblem(const TProdRFID& id);

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

  // A new start entered by an engineer. The saved current value follows it, so the new
  // range is where the next start of the program continues too.
  void NewSerialStart(GeneratorSlot slot, int64_t start);
  void NewLinkIdStart(GeneratorSlot slot, int32_t start);
  // An engineer changed the generator in `slot`: it is checked again, and one that could not
  // be read from the file is now the engineer's and is saved from here on.
  void Edited(GeneratorSlot slot);

  // Why the generator in `slot` cannot number units now; empty when it can.
  const Phrase& Problem(GeneratorSlot slot) const { return problems_[size_t(slot)]; }
  // The first problem of a generator the next unit would use (a serial that is on, a custom
  // link-ID sequence, or one that could not be read), as "KEY: what is wrong"; empty if none.
  Phrase BlockingProblem() const;

  // How many numbers the counter in `slot` gives before it comes round (the serial's
  // incrementing part to 0, a custom link ID past FFFFFF), counted up to kWrapWarningLeft;
  // nullopt when the next unit does not use that counter.
  std::optional<int64_t> NumbersLeft(GeneratorSlot slot) const;
  // One line per counter of the next unit with fewer than kWrapWarningLeft numbers left.
  Phrase WrapWarning() const;

  // TX.ini's RXSNINFO, TXSNINFO, RXRFIDINFO and TXRFIDINFO. A value that cannot be built, or
  // is of the other class, or fails the checks above, is reported and stops the units that
  // would use it; one that cannot be built is kept in the file as it was.
  void Load(const IniFile* ini, SettingsLoadReport& report) override;
  // Refuses when the file's numbering is not what this ledger last read or wrote there
  // (another program wrote it since): saving would hand out its numbers again.
  Phrase CheckBeforeStore(const IniFile& ini) override;
  // Each link-ID generator's start moves up to its next ID before it is saved.
  void Store(IniFile& ini) override;
  void Saved() override { fileValues_ = pendingValues_; }

 private:
  void ApplyDate();
  void Validate(GeneratorSlot slot);

  Generators generators_;
  DateSource date_;
  std::array<Phrase, kGeneratorSlots> problems_;
  // The file's text of a generator that could not be built; written back unchanged.
  std::array<std::string, kGeneratorSlots> unreadText_;
  // The four values as the file holds them after our last load or save.
  std::array<std::string, kGeneratorSlots> fileValues_;
  std::array<std::string, kGeneratorSlots> pendingValues_;
};

// Registers TProdSN and TProdRFID for the component text form.
void RegisterGeneratorClasses();
// Generator <-> one INI value (CR LF as ';').
std::string GeneratorToIniValue(const TPersistentComponent& generator);

}  // namespace korvel
