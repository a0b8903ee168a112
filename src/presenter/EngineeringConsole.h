// The engineering page's operations over the RX link. With no RX open nothing is sent; a
// read gives a value or a failure, never a made-up value, and a write says how it went.
#pragma once

#include <string>

#include "device/RxLink.h"
#include "device/Staging.h"

namespace korvel {

enum class AccessChoice { EnterWithoutLed, EnterWithLed, Leave };

class EngineeringConsole {
 public:
  EngineeringConsole(RxLink& link, StagingTables& staging) : link_(link), staging_(staging) {}

  bool HaveRx() const { return link_.HaveRx(); }

  Result<uint8_t> Read(RegisterSpace space, uint8_t address);
  Status Write(RegisterSpace space, uint8_t address, uint8_t data);
  Result<SpecialAnswer> Special(uint8_t selector);
  Status Access(AccessChoice choice);
  Status SetupCpi(uint8_t step);
  Status JumpToPor();
  Status Reload();
  Status UpdateCustomKeys();

  // The EEPROM tab: an RX register read, and W, which only stages for the next Set TX.
  Result<uint16_t> ReadRegister(uint8_t reg);
  void StageRegisterByte(uint8_t reg, uint8_t value) { StageRxByte(staging_, reg, value); }
  // The string descriptor's characters (code page bytes) from register 20 on, for the length
  // byte L of register 19; a register that cannot be read fails the whole text.
  Result<std::string> ReadStringBody(uint8_t lengthByte);
  // The erase buttons: every TX EEPROM byte, or every RX register, set to its erased value;
  // the first write that fails ends it (`failedAt`: its address, -1 before the first).
  Status EraseTx(int& failedAt);
  Status EraseRx(int& failedAt);
  // Code page bytes, as ProductNameBytes gives them.
  void StageStringDescriptor(const std::string& bytes) { StageString(staging_, bytes); }

 private:
  static Status NoRx() { return Status::Failed(Say("no RX open")); }

  RxLink& link_;
  StagingTables& staging_;
};

}  // namespace korvel
