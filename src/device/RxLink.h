// The receiver dongle as the rest of the tool reaches it: the HID layer, the open RX and its
// state, the command channel and the catalogue. The only code that talks HID. Every
// operation gives back a status (the step and the OS error) or a value with one;
// CommandFailed keeps its protocol meaning on top of it.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <type_traits>

#include "device/CommandCatalogue.h"
#include "device/CommandChannel.h"
#include "device/HidAccess.h"
#include "device/VidPidTable.h"

namespace korvel {

// The register spaces the engineering page reads and writes one byte at a time.
enum class RegisterSpace {
  RxDirect,
  RxTransceiver,
  TxDirect,
  TxEeprom,
  TxIndex,
  TxSensor,
  TxTransceiver,
};

// One operation as the engineering page shows it afterwards.
struct LinkOperation {
  enum class Kind { Read, Write, CpiSetup, SpecialAnswer };
  Kind kind = Kind::Read;
  RegisterSpace space = RegisterSpace::RxDirect;
  uint8_t address = 0;           // the register, or the special query's selector
  std::optional<uint8_t> value;  // data written, the byte read (none: the read failed), CPI step
  SpecialAnswer special{};
};
using LinkOperationHook = std::function<void(const LinkOperation&)>;

class RxLink {
 public:
  RxLink(HidPlatform& platform, Host& host);

  bool HaveRx() const { return state_.DeviceHandle != kNoHandle; }
  const DeviceState& State() const { return state_; }
  bool CommandFailed() const { return state_.CommandFailed; }
  // What raised CommandFailed since it was last lowered; Ok while it is down.
  const Status& CommandFailedCause() const { return cause_; }
  void ClearCommandFailed() {
    state_.CommandFailed = false;
    cause_ = {};
  }
  void RaiseCommandFailed(Status cause) {
    if (!state_.CommandFailed) cause_ = std::move(cause);
    state_.CommandFailed = true;
  }

  // Interfaces that could be opened now, of every vendor.
  int32_t CountHidDevices() { return hid_.CountHidDevices(); }
  // Takes over an interface the finder opened: the RX is ready to talk to.
  void Adopt(intptr_t handle, VidPid id, uint32_t version);
  // No RX identity (the not-ready state); the handle is left alone.
  void ForgetIdentity() { state_.ActiveVid = state_.ActivePid = 0; }
  // Closes the RX; nothing is open afterwards.
  void Close();

  HidAccess& Hid() { return hid_; }
  Host& HostRef() { return host_; }
  void SetTraceHook(HidTraceHook hook) { hid_.SetTraceHook(std::move(hook)); }
  void SetOperationHook(LinkOperationHook hook) { echo_ = std::move(hook); }

  // RX registers through the command channel.
  Result<uint16_t> ReadRegister(uint8_t reg) {
    return Tracked([&] { return channel_.ReadRegister(reg); });
  }
  Status WriteRegisterVerified(uint8_t reg, uint16_t value) {
    return Tracked([&] { return channel_.WriteRegisterVerified(reg, value); });
  }

  // One byte of a register space (TX spaces over the radio; the TX EEPROM write confirmed).
  Result<uint8_t> ReadByte(RegisterSpace space, uint8_t address);
  Status WriteByte(RegisterSpace space, uint8_t address, uint8_t data);

  Status TxEnterAccess(bool withLed) {
    return Tracked([&] { return commands_.RfEnterAccess(withLed); });
  }
  Status TxLeaveAccess() {
    return Tracked([&] { return commands_.RfLeaveAccess(); });
  }
  Status TxSetupCpi(uint8_t step);
  Status TxJumpToPor() {
    return WriteByte(RegisterSpace::TxDirect, kTxActionRegister, kTxJumpToPor);
  }
  Status TxFastReload() {
    return WriteByte(RegisterSpace::TxDirect, kTxActionRegister, kTxFastReload);
  }

  // The special query's answer; the last valid answer of each selector is remembered.
  Result<SpecialAnswer> SpecialQuery(uint8_t selector);
  // What the last valid answer of a selector said (none yet: nothing).
  std::optional<SpecialAnswer> LastSpecialAnswer(uint8_t selector) const;
  Result<LinkStatus> QueryLinkStatus() { return commands_.QueryLinkStatus(); }
  Result<CommandAnswer> LinkQueryAnswer() { return commands_.LinkQueryAnswer(); }
  Result<uint8_t> QueryBattery() { return commands_.QueryBattery(); }
  Status ProbeSensorLink(int attempts) { return commands_.ProbeSensorLink(attempts); }
  Status StartSoftBind() { return commands_.StartSoftBind(); }
  Status ApplyCustomKeys() { return commands_.ApplyCustomKeys(); }
  Status SetDeviceType(DeviceType type) { return commands_.SetDeviceType(type); }
  Status JumpToPor() {
    return Tracked([&] { return commands_.JumpToPor(); });
  }
  Status ReloadParameter() {
    return Tracked([&] { return commands_.ReloadParameter(); });
  }

 private:
  void Echo(const LinkOperation& operation) {
    if (echo_) echo_(operation);
  }
  static const Status& StatusOf(const Status& status) { return status; }
  template <class T>
  static const Status& StatusOf(const Result<T>& result) {
    return result.status;
  }
  // Runs an operation and keeps its status as the cause when it raised CommandFailed.
  template <class Operation>
  std::invoke_result_t<Operation> Tracked(Operation operation) {
    const bool before = state_.CommandFailed;
    auto result = operation();
    if (!before && state_.CommandFailed && cause_.Ok())
      cause_ =
          StatusOf(result).Ok() ? Status::Failed(Say("device operation failed")) : StatusOf(result);
    return result;
  }

  Host& host_;
  HidAccess hid_;
  DeviceState state_;
  CommandChannel channel_;
  CommandCatalogue commands_;
  LinkOperationHook echo_;
  Status cause_;
  std::array<std::optional<SpecialAnswer>, 256> lastSpecial_{};
};

}  // namespace korvel
