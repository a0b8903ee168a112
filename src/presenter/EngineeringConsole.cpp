#include "presenter/EngineeringConsole.h"

namespace korvel {

Result<uint8_t> EngineeringConsole::Read(RegisterSpace space, uint8_t address) {
  if (!HaveRx()) return NoRx();
  return link_.ReadByte(space, address);
}

Status EngineeringConsole::Write(RegisterSpace space, uint8_t address, uint8_t data) {
  if (!HaveRx()) return NoRx();
  return link_.WriteByte(space, address, data);
}

Result<SpecialAnswer> EngineeringConsole::Special(uint8_t selector) {
  if (!HaveRx()) return NoRx();
  return link_.SpecialQuery(selector);
}

Status EngineeringConsole::Access(AccessChoice choice) {
  if (!HaveRx()) return NoRx();
  if (choice == AccessChoice::Leave) return link_.TxLeaveAccess();
  return link_.TxEnterAccess(choice == AccessChoice::EnterWithLed);
}

Status EngineeringConsole::SetupCpi(uint8_t step) {
  if (!HaveRx()) return NoRx();
  return link_.TxSetupCpi(step);
}

Status EngineeringConsole::JumpToPor() {
  if (!HaveRx()) return NoRx();
  return link_.JumpToPor();
}

Status EngineeringConsole::Reload() {
  if (!HaveRx()) return NoRx();
  return link_.ReloadParameter();
}

Status EngineeringConsole::UpdateCustomKeys() {
  if (!HaveRx()) return NoRx();
  return link_.ApplyCustomKeys();
}

Result<uint16_t> EngineeringConsole::ReadRegister(uint8_t reg) {
  if (!HaveRx()) return NoRx();
  return link_.ReadRegister(reg);
}

Result<std::string> EngineeringConsole::ReadStringBody(uint8_t lengthByte) {
  if (!HaveRx()) return NoRx();
  Status failed;
  std::string text = UnpackString(lengthByte, [&](uint8_t reg) -> int32_t {
    if (!failed.Ok()) return -1;  // one failure is enough: nothing more is asked
    const Result<uint16_t> word = link_.ReadRegister(reg);
    if (!word) failed = word.status;
    return word ? int32_t(*word) : -1;
  });
  if (!failed.Ok()) return failed;
  return text;
}

Status EngineeringConsole::EraseTx(int& failedAt) {
  failedAt = -1;
  if (!HaveRx()) return NoRx();
  link_.ClearCommandFailed();
  Status status = link_.TxEnterAccess(false);
  link_.HostRef().Sleep(50);
  for (int address = 0; status && address < int(kTxEepromSize); ++address) {
    status = link_.WriteByte(RegisterSpace::TxEeprom, uint8_t(address), 0xFF);
    if (!status) failedAt = address;
  }
  // Leaving access mode ends the session whatever came before.
  (void)link_.TxLeaveAccess();
  return status;
}

Status EngineeringConsole::EraseRx(int& failedAt) {
  failedAt = -1;
  if (!HaveRx()) return NoRx();
  link_.ClearCommandFailed();
  Status status;
  for (int reg = 0; status && reg < int(kRxRegisterCount); ++reg) {
    status = link_.WriteRegisterVerified(uint8_t(reg), 0xFFFF);
    if (!status) failedAt = reg;
    link_.HostRef().Sleep(20);
  }
  return status;
}

}  // namespace korvel
