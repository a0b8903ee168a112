#include "Scan.h"

#include <string>
#include <vector>

#include "platform/Text.h"

namespace korvel {

void ScanInterfaces(HidAccess& hid, ReceiverFinder& finder, std::optional<VidPid> typed,
                    std::ostream& out) {
  HidPlatform& platform = hid.Platform();
  std::vector<HidInterfaceInfo> interfaces;
  const bool listed = platform.Bind() && platform.Enumerate(interfaces, true);
  platform.Release();
  if (!listed || interfaces.empty()) {
    out << "no HID interfaces\n";
    return;
  }
  const int marked = finder.WouldOpen(interfaces, typed);
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
