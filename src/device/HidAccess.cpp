#include "device/HidAccess.h"

#include <algorithm>
#include <vector>

namespace korvel {

namespace {
// Bind on entry, release on every way out.
class Binding {
 public:
  explicit Binding(HidPlatform& p) : p_(p), bound_(p.Bind()) {}
  ~Binding() { p_.Release(); }
  bool Bound() const { return bound_; }

 private:
  HidPlatform& p_;
  bool bound_;
};
}  // namespace

int32_t HidAccess::CountHidDevices() {
  Binding binding(platform_);
  std::vector<HidInterfaceInfo> interfaces;
  if (!binding.Bound() || !platform_.Enumerate(interfaces, false)) return 0;
  int32_t count = 0;
  for (const HidInterfaceInfo& info : interfaces) {
    const intptr_t handle = platform_.Open(info.path);
    if (handle == kNoHandle) continue;
    ++count;
    platform_.Close(handle);
    host_.ProcessMessages();
  }
  return count;
}

bool HidAccess::OpenDeviceByVidPid(int32_t vid, int32_t pid, uint32_t& version, intptr_t& handle) {
  Binding binding(platform_);
  std::vector<HidInterfaceInfo> interfaces;
  if (!binding.Bound() || !platform_.Enumerate(interfaces, false)) return false;
  bool result = false;
  intptr_t kept = kNoHandle;
  for (const HidInterfaceInfo& info : interfaces) {
    const intptr_t h = platform_.Open(info.path);
    if (h == kNoHandle) continue;
    HidAttributes attributes;
    uint16_t featureLength = 0;
    if (!platform_.GetAttributes(h, attributes)) attributes = HidAttributes{};
    if (!platform_.GetFeatureReportByteLength(h, featureLength)) featureLength = 0;
    // The dongle's mouse and keyboard collections have no feature report and never match.
    const bool match =
        attributes.VendorID == vid && attributes.ProductID == pid && featureLength != 0;
    if (!match) {
      platform_.Close(h);
      continue;
    }
    // 0 accepts any version; otherwise only the version seen before. Either way the last
    // match's version and handle are what the caller gets.
    if (version == 0 || version == attributes.VersionNumber) result = true;
    version = attributes.VersionNumber;
    // Only the last match is used; closing the earlier ones keeps them from leaking.
    if (kept != kNoHandle) platform_.Close(kept);
    kept = h;
  }
  if (kept != kNoHandle) handle = kept;
  return result;
}

bool HidAccess::Fail(bool gone, int osError) {
  failure_ = {false, gone, osError};
  return false;
}

Status HidAccess::Failed(const Phrase& what) const {
  if (failure_.noHandle) return Status::Failed(Say("{0}: no RX open", what));
  const bool gone = failure_.gone || IsDeviceGoneError(failure_.osError);
  if (failure_.osError == 0)
    return Status::Failed(gone ? Say("{0}: RX gone", what) : Say("{0}: transfer refused", what));
  const std::string os = OsErrorText(failure_.osError);
  return Status::Failed(
      gone ? Say("{0}: RX gone ({1})", what, os) : Say("{0}: transfer refused ({1})", what, os),
      failure_.osError);
}

size_t HidAccess::TransferLength(intptr_t handle) {
  if (handle == kNoHandle) {
    failure_ = {true, false, 0};
    return 0;
  }
  HidAttributes attributes;
  uint16_t length = 0;
  if (!platform_.GetAttributes(handle, attributes)) {
    Fail(true, platform_.LastError());  // the liveness test: unplugged
  } else if (!platform_.GetFeatureReportByteLength(handle, length)) {
    Fail(false, platform_.LastError());
  } else if (length == 0) {
    Fail(false, 0);
  }
  return length;
}

bool HidAccess::Set(intptr_t handle, ReportBuffer& buffer, size_t length) {
  // The interface decides the length; the caller's buffer is 9 bytes, so pad or cut.
  std::vector<uint8_t> wire(length, 0);
  std::copy_n(buffer.begin(), std::min(length, buffer.size()), wire.begin());
  const bool ok = platform_.SetFeature(handle, wire.data(), wire.size());
  if (!ok) Fail(false, platform_.LastError());
  Trace(HidTraceEvent::Direction::Sent, ok, buffer);
  return ok;
}

bool HidAccess::Get(intptr_t handle, ReportBuffer& buffer, size_t length) {
  std::vector<uint8_t> wire(length, 0);
  wire[0] = buffer[0];
  const bool ok = platform_.GetFeature(handle, wire.data(), wire.size());
  if (ok)
    std::copy_n(wire.begin(), std::min(length, buffer.size()), buffer.begin());
  else
    Fail(false, platform_.LastError());
  Trace(HidTraceEvent::Direction::Fetched, ok, buffer);
  return ok;
}

bool HidAccess::SendFeature(intptr_t handle, ReportBuffer& buffer) {
  Binding binding(platform_);
  if (!binding.Bound()) return Fail(false, platform_.LastError());
  const size_t length = TransferLength(handle);
  return length != 0 && Set(handle, buffer, length);
}

bool HidAccess::ReceiveFeature(intptr_t handle, ReportBuffer& buffer) {
  Binding binding(platform_);
  if (!binding.Bound()) return Fail(false, platform_.LastError());
  const size_t length = TransferLength(handle);
  return length != 0 && Get(handle, buffer, length);
}

bool HidAccess::TransactFeature(intptr_t handle, ReportBuffer& buffer) {
  Binding binding(platform_);
  if (!binding.Bound()) return Fail(false, platform_.LastError());
  const size_t length = TransferLength(handle);
  if (length == 0 || !Set(handle, buffer, length)) return false;
  // The device's time to prepare its answer; blocks, no messages.
  host_.Sleep(kAnswerPrepareMs);
  return Get(handle, buffer, length);
}

void HidAccess::CloseDevice(intptr_t handle) {
  if (handle == kNoHandle) return;
  Binding binding(platform_);
  platform_.Close(handle);
}

void HidAccess::Trace(HidTraceEvent::Direction direction, bool ok, const ReportBuffer& bytes) {
  if (!trace_) return;
  HidTraceEvent e;
  e.timeMs = host_.TickCount();
  e.direction = direction;
  e.ok = ok;
  e.bytes = bytes;
  trace_(e);
}

}  // namespace korvel
