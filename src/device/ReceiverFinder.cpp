#include "device/ReceiverFinder.h"

#include "platform/Text.h"

namespace korvel {

std::vector<VidPid> ReceiverFinder::Candidates(std::optional<VidPid> typed) const {
  std::vector<VidPid> out;
  for (const VidPid& entry : table_)
    if (entry.vid != 0 && entry.pid != 0) out.push_back(entry);
  // The typed identity is used as typed, even 0000:0000.
  if (typed) out.push_back(*typed);
  return out;
}

Result<ReceiverFinder::Opened> ReceiverFinder::OpenFirst(std::optional<VidPid> typed) {
  const std::vector<VidPid> candidates = Candidates(typed);
  for (const VidPid& id : candidates) {
    Opened opened{kNoHandle, id, 0};  // version 0 accepts any release
    if (hid_.OpenDeviceByVidPid(id.vid, id.pid, opened.version, opened.handle)) return opened;
  }
  // None opened: look again at what is there, to say why.
  HidPlatform& platform = hid_.Platform();
  std::vector<HidInterfaceInfo> interfaces;
  const bool listed = platform.Bind() && platform.Enumerate(interfaces, true);
  Status why = Status::Failed(
      Say("no receiver dongle is plugged in ({0} identities searched)", candidates.size()));
  for (size_t i = 0; listed && i < interfaces.size(); ++i) {
    const HidInterfaceInfo& info = interfaces[i];
    bool ours = false;
    for (const VidPid& id : candidates)
      ours |= info.detailsKnown && id.vid == info.attributes.VendorID &&
              id.pid == info.attributes.ProductID;
    if (!ours) continue;
    const std::string name = HexText(uint32_t(info.attributes.VendorID) & 0xFFFF, 4) + ":" +
                             HexText(uint32_t(info.attributes.ProductID) & 0xFFFF, 4);
    if (info.FeatureReportByteLength == 0) {
      if (why.osError == 0)
        why =
            Status::Failed(Say("receiver dongle {0} is plugged in, but none of its interfaces "
                               "takes feature reports",
                               name));
      continue;
    }
    const intptr_t h = platform.Open(info.path);
    if (h != kNoHandle) {
      platform.Close(h);
      continue;
    }
    const int error = platform.LastError();
    why = IsAccessDeniedError(error)
              ? Status::Failed(
                    Say("receiver dongle {0} is plugged in, but this user may not open it ({1})",
                        name, OsErrorText(error)),
                    error)
              : Status::Failed(Say("receiver dongle {0} is plugged in, but it could not be "
                                   "opened ({1})",
                                   name, OsErrorText(error)),
                               error);
    break;
  }
  platform.Release();
  return why;
}

int ReceiverFinder::WouldOpen(const std::vector<HidInterfaceInfo>& interfaces,
                              std::optional<VidPid> typed, Phrase* whyNone) {
  const Result<Opened> opened = OpenFirst(typed);
  if (!opened) {
    if (whyNone) *whyNone = opened.status.failure;
    return -1;
  }
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
