#include "device/RxLink.h"

namespace korvel {

namespace {
struct TxCodes {
  uint8_t read;
  uint8_t write;  // 0: the EEPROM write with its confirmation
};

TxCodes CodesOf(RegisterSpace space) {
  switch (space) {
    case RegisterSpace::TxDirect:
      return {C_RF_Rd_Direct_Reg, C_RF_Wrt_Direct_Reg};
    case RegisterSpace::TxEeprom:
      return {C_RF_Rd_EEPROM, 0};
    case RegisterSpace::TxIndex:
      return {C_RF_Rd_Index_Reg, C_RF_Wrt_Index_Reg};
    case RegisterSpace::TxSensor:
      return {C_RF_Rd_Sensor, C_RF_Wrt_Sensor};
    default:
      return {C_RF_Rd_RFIC_TRX5120B, C_RF_Wrt_RFIC_TRX5120B};
  }
}
}  // namespace

RxLink::RxLink(HidPlatform& platform, Host& host)
    : host_(host), hid_(platform, host), channel_(hid_, host, state_), commands_(channel_) {}

void RxLink::Adopt(intptr_t handle, VidPid id, uint32_t version) {
  state_.DeviceHandle = handle;
  state_.ActiveVid = id.vid;
  state_.ActivePid = id.pid;
  state_.RxVersion = version;
}

void RxLink::Close() {
  if (state_.DeviceHandle != kNoHandle) hid_.CloseDevice(state_.DeviceHandle);
  state_.DeviceHandle = kNoHandle;
}

Result<uint8_t> RxLink::ReadByte(RegisterSpace space, uint8_t address) {
  const Result<uint8_t> result = Tracked([&] {
    if (space == RegisterSpace::RxDirect) return commands_.ReadDirectRegister(address);
    if (space == RegisterSpace::RxTransceiver) return commands_.ReadTransceiver(address);
    return commands_.RfQuery(CodesOf(space).read, address);
  });
  Echo({LinkOperation::Kind::Read, space, address, result.value, {}});
  return result;
}

Status RxLink::WriteByte(RegisterSpace space, uint8_t address, uint8_t data) {
  const Status status = Tracked([&] {
    if (space == RegisterSpace::RxDirect) return commands_.WriteDirectRegister(address, data);
    if (space == RegisterSpace::RxTransceiver) return commands_.WriteTransceiver(address, data);
    if (space == RegisterSpace::TxEeprom) return commands_.RfEepromWrite(address, data);
    return commands_.RfSend(CodesOf(space).write, address, data);
  });
  Echo({LinkOperation::Kind::Write, space, address, data, {}});
  return status;
}

Status RxLink::TxSetupCpi(uint8_t step) {
  Echo({LinkOperation::Kind::CpiSetup, RegisterSpace::TxDirect, 0, step, {}});
  return Tracked([&] { return commands_.RfSetupCpi(step); });
}

Result<SpecialAnswer> RxLink::SpecialQuery(uint8_t selector) {
  Result<SpecialAnswer> answer = commands_.SpecialQuery(selector);
  if (answer) {
    lastSpecial_[selector] = *answer;
    Echo({LinkOperation::Kind::SpecialAnswer, RegisterSpace::RxDirect, selector, {}, *answer});
  }
  return answer;
}

std::optional<SpecialAnswer> RxLink::LastSpecialAnswer(uint8_t selector) const {
  return lastSpecial_[selector];
}

}  // namespace korvel
