// The receiver dongle as the tool sees it through its HID interfaces.
//
// Interfaces, in enumeration order:
//   emu://rx<n>/mouse     boot mouse collection, no feature report
//   emu://rx<n>/keyboard  keyboard collection, no feature report
//   emu://rx<n>/vendor    vendor collection, report ID 1, 9-byte feature report
// all with VID 0x1BCF, PID 0x053A and version 0x0100 unless configured otherwise.
//
// Protocol: a feature report [1, code, p1, p2, p3, ...] sent to the vendor interface is a
// command. A command that answers prepares its answer, which becomes valid (0xCC in byte 7)
// AnswerPrepareMs after the command arrived; a fetch before then returns zeros with status
// 0x00, as does a fetch after a command that does not answer. Reports with another ID or
// length are refused. Commands understood:
//   0x03 read register:  answer [high, low, 0, 0, 0, 0, 0, 0xCC, 0]
//   0x04 write register: [1, 4, address, high, low]; no answer
// Registers beyond 63 read as 0xFFFF and ignore writes. Other codes are ignored.
//
// Factory register file (16-bit words; "EEPROM pair" = (b << 8) | (b ^ 0xFF)):
//    0.. 2  dongle mouse address 0x12 0x34 0x56   as EEPROM pairs: 0x12ED 0x34CB 0x56A9
//    3.. 6  custom hot keys: 0x0000 (none)
//    7      0x00FF
//   15..18  VID 0x1BCF, PID 0x053A                0x1BE4 0xCF30 0x05FA 0x3AC5
//   19      string length L = 22 ("2.4G Mouse")   0x16E9
//   20..24  "2.4G Mouse", two characters a word   0x322E 0x3447 0x204D 0x6F75 0x7365
//   47      battery level bits 0x0F                0x0FF0
//   56      RX kind: mouse only                    0x5AA5
//   all others 0xFFFF (erased)
//
// Faults, by name (count = how many times; -1 = until cleared):
//   answers-never-valid  no answer ever carries 0xCC
//   readback-mismatch    the next `count` register writes store value ^ 0x0001
//   transfer-refused     the next `count` feature transfers fail
//   rx-gone              the RX is unplugged after `count` more transfers (0 = now)
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "EmulatedHid.h"
#include "device/HidAccess.h"

namespace korvel {

class EmulatedRx : public EmulatedDevice {
 public:
  struct Config {
    uint16_t vid = 0x1BCF;
    uint16_t pid = 0x053A;
    uint16_t version = 0x0100;
    uint32_t answerPrepareMs = 2;
    int instance = 0;
  };
  static constexpr size_t kRegisterCount = 64;
  using RegisterFile = std::array<uint16_t, kRegisterCount>;

  EmulatedRx(Host& host, Config config);
  explicit EmulatedRx(Host& host) : EmulatedRx(host, Config{}) {}

  static RegisterFile FactoryRegisters();

  std::vector<EmulatedInterface> Interfaces() const override;
  bool SetFeature(size_t index, const uint8_t* buffer, size_t length) override;
  bool GetFeature(size_t index, uint8_t* buffer, size_t length) override;

  void Plug() override;

  void SetVersion(uint16_t version) { config_.version = version; }
  void SetAnswerPrepareMs(uint32_t ms) { config_.answerPrepareMs = ms; }
  const Config& GetConfig() const { return config_; }

  RegisterFile& Registers() { return registers_; }
  const RegisterFile& Registers() const { return registers_; }

  // False for an unknown name.
  bool InjectFault(std::string_view name, int count = -1);
  void ClearFaults();
  static std::vector<std::string> FaultNames();

  // Counters of what arrived at the vendor interface.
  uint64_t ReportsReceived() const { return reportsReceived_; }
  uint64_t ReportsFetched() const { return reportsFetched_; }
  uint64_t CommandCount(uint8_t code) const { return commandCounts_[code]; }

 protected:
  // A command that answers calls Answer(); one that does not leaves no answer pending.
  // Returns false when the code is not understood (the report is still accepted).
  virtual bool HandleCommand(const ReportBuffer& command);
  void Answer(const ReportBuffer& answer);
  Host& host_;

 private:
  bool TransferAllowed();

  Config config_;
  RegisterFile registers_;
  ReportBuffer answer_{};
  bool hasAnswer_ = false;
  uint64_t answerReadyAt_ = 0;

  bool neverValid_ = false;
  int mismatchWrites_ = 0;
  int refusedTransfers_ = 0;
  int goneAfter_ = -1;

  uint64_t reportsReceived_ = 0;
  uint64_t reportsFetched_ = 0;
  std::array<uint64_t, 256> commandCounts_{};
};

}  // namespace korvel
