// One unit written end to end (Set TX): every setting and the unit's numbers staged into the
// images, the mouse's EEPROM written over the radio, the dongle's registers written and
// verified, both reloaded, and the link awaited with the new identity. The run returns what
// happened; it shows nothing itself.
#pragma once

#include <cstdint>
#include <string>

#include "config/Settings.h"
#include "device/RxLink.h"
#include "device/Staging.h"
#include "production/NumberingLedger.h"

namespace korvel {

// Where a run ended.
enum class RunStage {
  Passed,
  Refused,   // stopped before any device was touched: the station cannot number units now
  Device,    // the unit's write failed
  Recorded,  // the unit was written, but the production record did not take it
  Saved,     // the unit was written and recorded, but TX.ini did not take the numbering
};

struct RunResult {
  bool pass = false;
  RunStage stage = RunStage::Device;
  uint64_t ms = 0;  // as Go timed it
  // As shown during the run: empty when the serial is off or its step was not reached.
  std::string rxSerial;
  std::string txSerial;
  uint32_t rxId = 0;  // link IDs A and B; 0 before they were placed
  uint32_t txId = 0;
  // Why a run failed, in an engineer's words ("TX EEPROM 0x0C write not confirmed"); empty on
  // PASS.
  Phrase failedStep;
};

// What a run needs of the link monitoring above it.
class LinkWatch {
 public:
  virtual ~LinkWatch() = default;
  // The TX status check; true when it left the mouse shown present and ready.
  virtual bool CheckTx() = 0;
  // "Connect"; the bind check then runs on its own timer while Binding() is true.
  virtual void Connect() = 0;
  virtual bool Binding() const = 0;
  // How binds are recognised from now on.
  virtual void SetKeyboardBindMode(bool keyboard) = 0;
};

// What the operator sees of a run while it goes on.
class RunObserver {
 public:
  enum class Phase { Move, Wait };
  virtual ~RunObserver() = default;
  virtual void Progress(int /*position 0..20*/) {}
  virtual void TxSerialShown(const std::string&) {}
  virtual void LinkIdShown(const std::string& /*first three bytes, hex*/) {}
  virtual void RxSerialShown(const std::string&) {}
  virtual void PhaseShown(Phase) {}
  // VID or PID below 1: neither is written and both fields are emptied.
  virtual void VidPidCleared() {}
  // A byte of the USB identity staged for an RX register (VID, PID, string length).
  virtual void RegisterStaged(uint8_t /*reg*/, uint8_t /*value*/) {}
};

class UnitProgrammer {
 public:
  UnitProgrammer(RxLink& link, Host& host, LinkWatch& watch)
      : link_(link), host_(host), watch_(watch) {}

  // StagingMode is 1 during the run and 0 after it. Not re-entered: a nested call fails. A
  // product name the code page cannot hold is refused (RunStage::Refused) with nothing sent.
  RunResult Run(const Settings& settings, const UnitNumbers& unit, RunObserver& observer);
  bool Running() const { return running_; }

  // What the last run staged (the engineering page's W buttons stage here as well).
  StagingTables& Staging() { return staging_; }
  // Read from the mouse once per program run: 0x91 for the sensors 0x11 and 0x29, else 0x9D.
  uint8_t SensorByte() const { return sensorByte_; }
  // The RX register that keeps the sensor byte.
  static constexpr uint8_t kSensorByteRegister = 63;

 private:
  // The run goes on only while every operation did its job; the first failure is its reason.
  bool Ok() const { return failure_.Ok(); }
  bool Check(const Status& status);
  // Notes the stage the run is in, for the reason of a failure.
  void Stage(Phrase stage) { stage_ = std::move(stage); }
  bool WriteTx(const Settings& s, const UnitNumbers& unit, RunResult& result, RunObserver& o);
  bool WriteRx(const Settings& s, const UnitNumbers& unit, RunResult& result, RunObserver& o);
  bool AwaitLink(RunObserver& o);
  bool BindKeyboard();
  void End(const Settings& s, RunResult& result);
  // Why the run failed, in words.
  Phrase Reason();

  RxLink& link_;
  Host& host_;
  LinkWatch& watch_;
  StagingTables staging_;
  uint8_t sensorByte_ = 0;
  uint8_t idBytes_[6] = {};
  bool running_ = false;
  Phrase stage_;
  Status failure_;           // the first operation that failed, or why the run stopped
  std::string productName_;  // this run's product name in the code page, at most 46 bytes
};

// The mouse's option pairs from the settings (all but the battery level).
void StageTxSettings(StagingTables& t, const Settings& s);
// The battery level: its TX pair, and RX register 47 keeping the RX's own low five bits of
// the register's current word (-1 when it could not be read).
void StageBatteryLevel(StagingTables& t, int itemIndex, int32_t register47);
// The link IDs A and B as six bytes (the high byte of each with bit 7) with their two check
// bytes in the TX EEPROM, and the same six bytes in RX registers 0-2 and 51-53.
void StageLinkIds(StagingTables& t, uint32_t a, uint32_t b, uint8_t bytes[6]);
void StageRxKind(StagingTables& t, bool mouseOnly);
void StagePeriods(StagingTables& t, int sleep, int wakeup);
// ComboRFPower's item as the transceiver's output power register value (-20 dBm when none).
uint8_t RfPowerValue(int itemIndex);

}  // namespace korvel
