#include "Scan.h"

#include <cstdio>
#include <string>
#include <vector>

#include "device/VidPidTable.h"
#include "platform/Text.h"

namespace korvel {

void ScanInterfaces(HidAccess& hid, std::ostream& out) {
  HidPlatform& platform = hid.Platform();
  std::vector<HidInterfaceInfo> interfaces;
  const bool listed = platform.Bind() && platform.Enumerate(interfaces, true);
  platform.Release();
  if (!listed || interfaces.empty()) {
    out << "no HID interfaces\n";
    return;
  }

  VidPidTableType table{};
  FillFixedVidPids(table);
  int marked = -1;
  for (const VidPid& entry : table) {
    if (entry.vid == 0 || entry.pid == 0) continue;
    uint32_t version = 0;
    intptr_t handle = kNoHandle;
    if (!hid.OpenDeviceByVidPid(entry.vid, entry.pid, version, handle)) {
      hid.CloseDevice(handle);
      continue;
    }
    hid.CloseDevice(handle);
    // The handle kept is the last match in enumeration order.
    for (size_t i = 0; i < interfaces.size(); ++i) {
      const HidInterfaceInfo& info = interfaces[i];
      if (info.detailsKnown && info.attributes.VendorID == entry.vid &&
          info.attributes.ProductID == entry.pid && info.FeatureReportByteLength != 0)
        marked = int(i);
    }
    break;
  }

  for (size_t i = 0; i < interfaces.size(); ++i) {
    const HidInterfaceInfo& info = interfaces[i];
    out << (int(i) == marked ? "* " : "  ") << info.path << "  ";
    if (info.detailsKnown) {
      out << HexText(info.attributes.VendorID, 4) << ':' << HexText(info.attributes.ProductID, 4)
          << "  " << HexText(info.attributes.VersionNumber, 4) << "  "
          << info.FeatureReportByteLength;
    } else {
      out << "????:????  ????  ?";
    }
    out << '\n';
  }
}

}  // namespace korvel
