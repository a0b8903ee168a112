// The receiver dongle as the tool sees it through its HID interfaces, with the radio link
// to an emulated mouse (EmulatedTx) behind it.
//
// Interfaces, in enumeration order:
//   emu://rx<n>/mouse     boot mouse collection, no feature report
//   emu://rx<n>/keyboard  keyboard collection, no feature report
//   emu://rx<n>/vendor    vendor collection, report ID 1, 9-byte feature report
// all with VID 0x1BCF, PID 0x053A and version 0x0100 unless configured otherwise. Each is one
// USB interface with a report descriptor of its own (ReportDescriptor), so on Linux each is
// one hidraw node.
//
// Protocol: a feature report [1, code, p1, p2, p3, ...] sent to the vendor interface is a
// command. A command that answers prepares its answer, which becomes valid (0xCC in byte 7)
// once it is ready; a fetch before then returns zeros with status 0x00, as does a fetch
// after a command that does not answer. A new command drops the pending answer. Reports with
// another ID or length are refused. Local answers are ready AnswerPrepareMs after the
// command; relayed ones after the radio round trip (2 x RfLatencyMs) plus AnswerPrepareMs.
//
//   0x03 register read      [high, low, 0, 0, 0, 0, 0, CC]
//   0x04 register write     [address, high, low]; registers beyond 63 read 0xFFFF, ignore writes
//   0x06 / 0x07             RX transceiver register read (value in byte 1) / write
//   0x08 0x00 0x01          soft bind: for BindWindowMs the RX looks for a TX in bind mode;
//                           BindFindMs after the start one that is on the air is found and
//                           both take a new address (RX registers 0..2, TX EEPROM 0x0C..0x0F)
//                           With the RX kind keyboard and mouse (register 56 not 0x5AA5) and
//                           a keyboard waiting (SetKeyboardInBindMode), the keyboard is found
//                           instead: registers 43..45 and their copy 48..50 take its new
//                           address as EEPROM pairs; the mouse keeps its link
//   0x08 0x0B               apply custom hot keys (counted)
//   0x09 link status        [channel 2..82, address byte 1, address byte 2, ..., CC] while
//                           the radio runs; channel 0 while it is down (reload, POR, off)
//   0x0A battery            [1, level, ..., CC] with the TX linked; [0, ..., CC] without
//   0x0E 55 AA CC           RX jump to POR: radio down 100 ms, address reloaded
//   0x0F CC 33 55           reload parameters: radio down 50 ms, address from registers 0..2
//   0x12 / 0x14             RX direct register write / read (byte 0)
//   0x14 FF AA n            special query: n = 1 [RSSI threshold 0x28, mouse sequence number
//                           (moves every 8 ms while the TX is linked), 0, current channel,
//                           RSSI channel, bind channel, good channels 16]; n = 4 [0, bind
//                           status: 0x00 while binding, 0xBB after a bind, 0x33 otherwise, 0...]
//   0x17 3C 5A t            device type (1 mouse, 2 keyboard)
//   0x21..0x2F, p1 = 0xAA   relayed to the TX when it is linked: on the air with the RX's
//                           address; a flaky TX drops a share of them (seeded). A kept
//                           EEPROM write (0x21) leaves [0, 0, 0, 0, 21, address, 0, CC] for
//                           the next fetch, TxEepromWriteMs after the round trip.
// The link is up while the RX's radio runs and the TX is on the air with the same address.
//
// Factory register file (16-bit words; "EEPROM pair" = (b << 8) | (b ^ 0xFF)):
//    0.. 2  dongle mouse address 0x92 0x34 0x56   as EEPROM pairs: 0x926D 0x34CB 0x56A9
//    3.. 6  custom hot keys: 0x0000 (none)
//    7      0x00FF
//   15..18  VID 0x1BCF, PID 0x053A                0x1BE4 0xCF30 0x05FA 0x3AC5
//   19      string length L = 22 ("2.4G Mouse")   0x16E9
//   20..24  "2.4G Mouse", two characters a word   0x322E 0x3447 0x204D 0x6F75 0x7365
//   47      battery level bits 0x0F                0x0FF0
//   56      RX kind: mouse only                    0x5AA5
//   all others 0xFFFF (erased). Transceiver register 1: 0x1B.
//
// Faults, by name (count = how many times; -1 = until cleared):
//   answers-never-valid  no answer ever carries 0xCC
//   readback-mismatch    the next `count` register writes store value ^ 0x0001
//   transfer-refused     the next `count` feature transfers fail
//   rx-gone              the RX is unplugged after `count` more transfers (0 or less: now)
//   tx-out-of-range      the TX is out of range
//   tx-off               the TX has no power
//   tx-flaky             the TX misses `count` percent of relayed commands (30 by default)
//   low-battery          the TX battery reads level 2
//   tx-eeprom-mismatch   the next `count` TX EEPROM writes are kept as data ^ 0x01, unconfirmed
//   no-link-after-reload the TX does not come back on the air after its next reload or POR
#pragma once

#include <array>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "EmulatedHid.h"
#include "EmulatedTx.h"
#include "device/HidAccess.h"

namespace korvel {

class EmulatedRx : public EmulatedDevice {
 public:
  struct Config {
    uint16_t vid = 0x1BCF;
    uint16_t pid = 0x053A;
    uint16_t version = 0x0100;
    uint32_t answerPrepareMs = 2;
    uint32_t rfLatencyMs = 2;      // one way
    uint32_t txEepromWriteMs = 3;  // EEPROM programming time before the TX confirms
    uint32_t bindFindMs = 1500;
    uint32_t bindWindowMs = 10000;
    uint32_t seed = 1;
    int instance = 0;
  };
  static constexpr size_t kRegisterCount = 64;
  using RegisterFile = std::array<uint16_t, kRegisterCount>;

  EmulatedRx(Host& host, Config config);
  explicit EmulatedRx(Host& host) : EmulatedRx(host, Config{}) {}

  static RegisterFile FactoryRegisters();
  // The report descriptor of interface `index` (as Interfaces() lists them): a boot mouse, a
  // boot keyboard, and the vendor collection with its 8 data bytes behind report ID 1.
  static const std::vector<uint8_t>& ReportDescriptor(size_t index);

  std::vector<EmulatedInterface> Interfaces() const override;
  bool SetFeature(size_t index, const uint8_t* buffer, size_t length) override;
  bool GetFeature(size_t index, uint8_t* buffer, size_t length) override;
  void Plug() override;

  // The mouse within radio reach; null for none.
  void SetTx(std::shared_ptr<EmulatedTx> tx) { tx_ = std::move(tx); }
  const std::shared_ptr<EmulatedTx>& Tx() const { return tx_; }
  void SetRadioEnabled(bool on) { radioEnabled_ = on; }
  // A keyboard near the RX with its bind button held.
  void SetKeyboardInBindMode(bool on) { keyboardBindMode_ = on; }
  // Share of relayed commands a flaky TX misses, 0..1.
  void SetDropShare(double share) { dropShare_ = share; }

  void SetVersion(uint16_t version) { config_.version = version; }
  void SetAnswerPrepareMs(uint32_t ms) { config_.answerPrepareMs = ms; }
  void SetRfLatencyMs(uint32_t ms) { config_.rfLatencyMs = ms; }
  void SetTxEepromWriteMs(uint32_t ms) { config_.txEepromWriteMs = ms; }
  const Config& GetConfig() const { return config_; }

  RegisterFile& Registers() { return registers_; }
  const RegisterFile& Registers() const { return registers_; }
  std::array<uint8_t, 256>& DirectRegisters() { return direct_; }
  std::array<uint8_t, 256>& TransceiverRegisters() { return transceiver_; }
  uint8_t DeviceType() const { return deviceType_; }
  bool Linked() const;
  bool Binding() const { return binding_; }
  // The three address bytes the radio uses now.
  const EmulatedTx::Address& ActiveAddress() const { return active_; }

  // False for an unknown name.
  bool InjectFault(std::string_view name, int count = -1);
  void ClearFaults();
  static std::vector<std::string> FaultNames();

  // Counters of what arrived at the vendor interface.
  uint64_t ReportsReceived() const { return reportsReceived_; }
  uint64_t ReportsFetched() const { return reportsFetched_; }
  uint64_t CommandCount(uint8_t code) const { return commandCounts_[code]; }
  uint64_t RelayedToTx() const { return relayed_; }
  uint64_t DroppedOnAir() const { return dropped_; }

 private:
  void HandleCommand(const ReportBuffer& command);
  void HandleRf(const ReportBuffer& command);
  void Answer(const ReportBuffer& answer, uint64_t readyInMs);
  // Bind progress and other things that happen with time.
  void Advance();
  bool RadioUp(uint64_t now) const;
  bool TransferAllowed();
  bool DropOnAir();
  void ReloadAddress(uint64_t offAirMs);

  Host& host_;
  Config config_;
  RegisterFile registers_;
  std::array<uint8_t, 256> direct_{};
  std::array<uint8_t, 256> transceiver_{};
  std::shared_ptr<EmulatedTx> tx_;
  EmulatedTx::Address active_{};
  std::mt19937 rng_;
  ReportBuffer answer_{};
  bool hasAnswer_ = false;
  uint64_t answerReadyAt_ = 0;

  bool radioEnabled_ = true;
  uint64_t radioDownUntil_ = 0;
  uint8_t deviceType_ = 1;
  bool binding_ = false;
  bool keyboardBindMode_ = false;
  bool bound_ = false;
  uint64_t bindStartedAt_ = 0;
  uint8_t sequence_ = 0;
  uint64_t customKeyApplies_ = 0;
  double dropShare_ = 0;

  bool neverValid_ = false;
  int mismatchWrites_ = 0;
  int refusedTransfers_ = 0;
  int goneAfter_ = -1;

  uint64_t reportsReceived_ = 0;
  uint64_t reportsFetched_ = 0;
  uint64_t relayed_ = 0;
  uint64_t dropped_ = 0;
  std::array<uint64_t, 256> commandCounts_{};

 public:
  uint64_t CustomKeyApplies() const { return customKeyApplies_; }
};

}  // namespace korvel
