// Every command the tool sends to the RX, and through its radio to the TX.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "device/CommandChannel.h"

namespace korvel {

// Local commands: [1, code, p1, p2, p3, 0, 0, 0, 0].
constexpr uint8_t C_Rd_RFIC_TRX5120B = 0x06;
constexpr uint8_t C_Wrt_RFIC_TRX5120B = 0x07;
constexpr uint8_t C_Combo_Cmd = 0x08;
constexpr uint8_t C_Get_Link_Status = 0x09;
constexpr uint8_t C_Get_TX_Battery = 0x0A;
// Reserved: part of the vocabulary, sent by nothing, never to be given another meaning.
constexpr uint8_t C_ENTER_ACCESS = 0x0C;
constexpr uint8_t C_LEAVE_ACCESS = 0x0D;
constexpr uint8_t C_JUMP_TO_POR = 0x0E;
constexpr uint8_t C_RELOAD_PARAMETER = 0x0F;
constexpr uint8_t C_Wrt_Direct_Reg = 0x12;
constexpr uint8_t C_Rd_Direct_Reg = 0x14;
constexpr uint8_t C_Enable_RSSI = 0x15;   // reserved
constexpr uint8_t C_Disable_RSSI = 0x16;  // reserved
constexpr uint8_t C_Set_Device_Type = 0x17;

// RF commands, relayed to the TX: [1, code, 0xAA, a, b, 0, 0, 0, 0].
constexpr uint8_t kRfMarker = 0xAA;
constexpr uint8_t C_RF_Wrt_EEPROM = 0x21;
constexpr uint8_t C_RF_Wrt_Index_Reg = 0x22;
constexpr uint8_t C_RF_Wrt_Direct_Reg = 0x23;
constexpr uint8_t C_RF_Rd_EEPROM = 0x24;
constexpr uint8_t C_RF_Rd_Index_Reg = 0x25;
constexpr uint8_t C_RF_Rd_Direct_Reg = 0x26;
constexpr uint8_t C_RF_Wrt_RFIC_TRX5120B = 0x27;
constexpr uint8_t C_RF_Rd_RFIC_TRX5120B = 0x28;
constexpr uint8_t C_RF_Wrt_Sensor = 0x29;
constexpr uint8_t C_RF_Rd_Sensor = 0x2A;
constexpr uint8_t C_RF_ENTER_ACCESS = 0x2B;
constexpr uint8_t C_RF_LEAVE_ACCESS = 0x2C;
constexpr uint8_t C_RF_SETUP_CPI = 0x2F;

// TX direct register 0xFF: writing a value triggers an action (0x55, 0x5A reserved).
constexpr uint8_t kTxActionRegister = 0xFF;
constexpr uint8_t kTxJumpToPor = 0x3C;
constexpr uint8_t kTxFastReload = 0x3D;

constexpr uint8_t kSpecialQueryAddress = 0xFF;
constexpr size_t kSpecialQueryBytes = 7;
using SpecialAnswer = std::array<uint8_t, kSpecialQueryBytes>;

enum class DeviceType : uint8_t { Mouse = 1, Keyboard = 2 };

struct LinkStatus {
  uint8_t channel = 0;              // answer byte 0, 2 to 82 when valid
  std::array<uint8_t, 2> linkId{};  // answer bytes 1 and 2
};

// Every operation gives back a status or a value with one; CommandFailed is raised as the
// protocol says, beside it.
class CommandCatalogue {
 public:
  explicit CommandCatalogue(CommandChannel& channel) : ch_(channel) {}

  // Relayed read; a failure raises CommandFailed. Gives up after RetryCount attempts or
  // 3000 ms, whichever comes first.
  Result<uint8_t> RfQuery(uint8_t code, uint8_t address);
  // Relayed write, nothing fetched; a refused send raises CommandFailed.
  Status RfSend(uint8_t code, uint8_t a, uint8_t b);
  // TX EEPROM write, confirmed by the RX or read back; at most three writes.
  Status RfEepromWrite(uint8_t address, uint8_t data);
  // The seven status bytes (CommandFailed untouched).
  Result<SpecialAnswer> SpecialQuery(uint8_t selector);

  // RX direct register (0x14 / 0x12) and the RX's transceiver IC (0x06 / 0x07).
  Result<uint8_t> ReadDirectRegister(uint8_t address);
  Status WriteDirectRegister(uint8_t address, uint8_t data);
  Result<uint8_t> ReadTransceiver(uint8_t address);
  Status WriteTransceiver(uint8_t address, uint8_t data);

  Status SetDeviceType(DeviceType type);
  Status JumpToPor();
  Status ReloadParameter();

  Status RfEnterAccess(bool withLed) {
    return RfSend(C_RF_ENTER_ACCESS, 0x5A, withLed ? 0xCC : 0x33);
  }
  Status RfLeaveAccess() { return RfSend(C_RF_LEAVE_ACCESS, 0, 0); }
  Status RfSetupCpi(uint8_t step) { return RfSend(C_RF_SETUP_CPI, step, 0xCC); }
  Status RfJumpToPor() { return RfSend(C_RF_Wrt_Direct_Reg, kTxActionRegister, kTxJumpToPor); }
  Status RfFastReload() { return RfSend(C_RF_Wrt_Direct_Reg, kTxActionRegister, kTxFastReload); }

  // One link query; valid only when the transfer worked and byte 0 is 2 to 82.
  Result<LinkStatus> QueryLinkStatus();
  // The same query's raw answer whenever the transfer worked, valid or not.
  Result<CommandAnswer> LinkQueryAnswer();
  // One battery query; the level (low nibble of byte 1) when byte 0 is non-zero and the
  // status is 0xCC.
  Result<uint8_t> QueryBattery();
  // Link probe: the sensor read at address 0 until its status is 0xCC, at most `attempts`
  // transactions with messages let run after each; CommandFailed untouched.
  Status ProbeSensorLink(int attempts);
  // Soft-bind switch: [1, 8, 0, 1]; the result is not checked.
  Status StartSoftBind();
  // Applies the staged custom hot keys: [1, 8, 0x0B].
  Status ApplyCustomKeys();

  CommandChannel& Channel() { return ch_; }

  static constexpr uint32_t kRfSendDelayMs = 8;
  static constexpr uint64_t kRfQueryLimitMs = 3000;
  static constexpr uint32_t kEepromConfirmWaitMs = 32;
  static constexpr uint32_t kEepromReadBackWaitMs = 30;
  static constexpr int kEepromMaxPolls = 30;
  static constexpr int kEepromMaxWrites = 3;
  static constexpr uint32_t kTransceiverWaitMs = 10;

 private:
  bool HaveDevice() const { return ch_.State().DeviceHandle != kNoHandle; }
  // Sends a local command with no answer.
  Status SendLocal(const Phrase& what, uint8_t code, uint8_t p1, uint8_t p2, uint8_t p3);
  // Asks up to RetryCount times until 0xCC; waitMs after each transaction.
  std::optional<CommandAnswer> AskUntilOk(const CommandReport& request, uint32_t waitMs);

  CommandChannel& ch_;
};

// What a relayed command does, in an engineer's words ("TX EEPROM 0x0C", "TX access").
Phrase RfTargetName(uint8_t code, uint8_t address);

}  // namespace korvel
