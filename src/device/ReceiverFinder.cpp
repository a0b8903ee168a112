#include "device/ReceiverFinder.h"

namespace korvel {

std::vector<VidPid> ReceiverFinder::Candidates(std::optional<VidPid> typed) const {
  std::vector<VidPid> out;
  for (const VidPid& entry : table_)
    if (entry.vid != 0 && entry.pid != 0) out.push_back(entry);
  // The typed identity is used as typed, even 0000:0000.
  if (typed) out.push_back(*typed);
  return out;
}

std::optional<ReceiverFinder::Opened> ReceiverFinder::OpenFirst(std::optional<VidPid> typed) {
  for (const VidPid& id : Candidates(typed)) {
    Opened opened{kNoHandle, id, 0};  // version 0 accepts any release
    if (hid_.OpenDeviceByVidPid(id.vid, id.pid, opened.version, opened.handle)) return opened;
  }
  return std::nullopt;
}

int ReceiverFinder::WouldOpen(const std::vector<HidInterfaceInfo>& interfaces,
                              std::optional<VidPid> typed) {
  const std::optional<Opened> opened = OpenFirst(typed);
  if (!opened) return -1;
  hid_.CloseDevice(opened->handle);
  // The handle kept is the last match in enumeration order.
  int marked = -1;
  for (size_t i = 0; i < interfaces.size(); ++i) {
    const HidInterfaceInfo& info = interfaces[i];
    if (info.detailsKnown && info.attributes.VendorID == opened->id.vid &&
        info.attributes.ProductID == opened->id.pid && info.FeatureReportByteLength != 0)
      marked = int(i);
  }
  return marked;
}

std::optional<HidAttributes> ReceiverFinder::Unopenable(std::optional<VidPid> typed) {
  HidPlatform& platform = hid_.Platform();
  std::vector<HidInterfaceInfo> interfaces;
  const bool listed = platform.Bind() && platform.Enumerate(interfaces, true);
  std::optional<HidAttributes> refused;
  for (size_t i = 0; listed && i < interfaces.size() && !refused; ++i) {
    const HidInterfaceInfo& info = interfaces[i];
    if (!info.detailsKnown) continue;
    bool ours = false;
    for (const VidPid& id : Candidates(typed))
      ours |= id.vid == info.attributes.VendorID && id.pid == info.attributes.ProductID;
    if (!ours) continue;
    const intptr_t h = platform.Open(info.path);
    if (h != kNoHandle) {
      platform.Close(h);
      continue;
    }
    if (IsAccessDeniedError(platform.LastError())) refused = info.attributes;
  }
  platform.Release();
  return refused;
}

}  // namespace korvel
