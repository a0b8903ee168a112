#include "Scan.h"

#include <string>
#include <vector>

#include "Next.h"
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

int RunScan(HidPlatform& platform, Host& host, const std::filesystem::path& ini, std::ostream& out,
            std::ostream& err) {
  Settings settings;
  NumberingLedger ledger;
  HidAccess hid(platform, host);
  ReceiverFinder finder(hid);
  if (!LoadSettingsForCli(ini, settings, ledger, finder.Table(), err)) return 1;
  std::optional<VidPid> typed;
  const auto vid = HexFieldNumber(settings.VidSet);
  const auto pid = HexFieldNumber(settings.PidSet);
  if (vid && pid) typed = VidPid{int32_t(*vid), int32_t(*pid)};
  ScanInterfaces(hid, finder, typed, out);
  return 0;
}

}  // namespace korvel
