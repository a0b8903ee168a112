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

  DeviceResult<uint8_t> Read(RegisterSpace space, uint8_t address);
  DeviceStatus Write(RegisterSpace space, uint8_t address, uint8_t data);
  DeviceResult<SpecialAnswer> Special(uint8_t selector);
  DeviceStatus Access(AccessChoice choice);
  DeviceStatus SetupCpi(uint8_t step);
  DeviceStatus JumpToPor();
  DeviceStatus Reload();
  DeviceStatus UpdateCustomKeys();

  // The EEPROM tab: an RX register read, and W, which only stages for the next Set TX.
  DeviceResult<uint16_t> ReadRegister(uint8_t reg);
  void StageRegisterByte(uint8_t reg, uint8_t value) { StageRxByte(staging_, reg, value); }
  // The string descriptor's characters (code page bytes) from register 20 on, for the length
  // byte L of register 19; a register that cannot be read fails the whole text.
  DeviceResult<std::string> ReadStringBody(uint8_t lengthByte);
  // Code page bytes, as ProductNameBytes gives them.
  void StageStringDescriptor(const std::string& bytes) { StageString(staging_, bytes); }

 private:
  static DeviceStatus NoRx() { return DeviceStatus::Failed(Say("no RX open")); }

  RxLink& link_;
  StagingTables& staging_;
};

}  // namespace korvel
