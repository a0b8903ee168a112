#include "presenter/EngineeringConsole.h"

namespace korvel {

DeviceResult<uint8_t> EngineeringConsole::Read(RegisterSpace space, uint8_t address) {
  if (!HaveRx()) return NoRx();
  return link_.ReadByte(space, address);
}

DeviceStatus EngineeringConsole::Write(RegisterSpace space, uint8_t address, uint8_t data) {
  if (!HaveRx()) return NoRx();
  return link_.WriteByte(space, address, data);
}

DeviceResult<SpecialAnswer> EngineeringConsole::Special(uint8_t selector) {
  if (!HaveRx()) return NoRx();
  return link_.SpecialQuery(selector);
}

DeviceStatus EngineeringConsole::Access(AccessChoice choice) {
  if (!HaveRx()) return NoRx();
  if (choice == AccessChoice::Leave) return link_.TxLeaveAccess();
  return link_.TxEnterAccess(choice == AccessChoice::EnterWithLed);
}

DeviceStatus EngineeringConsole::SetupCpi(uint8_t step) {
  if (!HaveRx()) return NoRx();
  return link_.TxSetupCpi(step);
}

DeviceStatus EngineeringConsole::JumpToPor() {
  if (!HaveRx()) return NoRx();
  return link_.JumpToPor();
}

DeviceStatus EngineeringConsole::Reload() {
  if (!HaveRx()) return NoRx();
  return link_.ReloadParameter();
}

DeviceStatus EngineeringConsole::UpdateCustomKeys() {
  if (!HaveRx()) return NoRx();
  return link_.ApplyCustomKeys();
}

DeviceResult<uint16_t> EngineeringConsole::ReadRegister(uint8_t reg) {
  if (!HaveRx()) return NoRx();
  return link_.ReadRegister(reg);
}

DeviceResult<std::string> EngineeringConsole::ReadStringBody(uint8_t lengthByte) {
  if (!HaveRx()) return NoRx();
  DeviceStatus failed;
  std::string text = UnpackString(lengthByte, [&](uint8_t reg) -> int32_t {
    if (!failed.Ok()) return -1;  // one failure is enough: nothing more is asked
    const DeviceResult<uint16_t> word = link_.ReadRegister(reg);
    if (!word) failed = word.status;
    return word ? int32_t(*word) : -1;
  });
  if (!failed.Ok()) return failed;
  return text;
}

}  // namespace korvel
