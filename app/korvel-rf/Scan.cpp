#include "Scan.h"

#include <string>
#include <vector>

#include "config/Settings.h"
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
  Phrase whyNone;
  const int marked = finder.WouldOpen(interfaces, typed, &whyNone);
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
  if (marked < 0) out << "(none marked: " << whyNone << ")\n";
}

int RunScan(HidPlatform& platform, Host& host, const std::filesystem::path& ini, std::ostream& out,
            std::ostream& err) {
  Settings settings;
  HidAccess hid(platform, host);
  ReceiverFinder finder(hid);
  // A diagnosis must not fail with the station's set-up: what cannot be read is said, and
  // the scan goes on with what could be.
  const SettingsLoadReport report = LoadSettings(ini, settings, finder.Table(), nullptr);
  if (!report.readError.empty())
    err << "korvel-rf: warning: " << report.readError << "; the built-in VID/PIDs only\n";
  for (const auto& bad : report.badDeviceEntries)
    err << "korvel-rf: warning: " << ini.string() << ": [Device] " << bad.key << "=" << bad.text
        << " is not an 8-digit VID/PID and was skipped\n";
  std::optional<VidPid> typed;
  const auto vid = HexFieldNumber(settings.VidSet);
  const auto pid = HexFieldNumber(settings.PidSet);
  if (vid && pid) typed = VidPid{int32_t(*vid), int32_t(*pid)};
  ScanInterfaces(hid, finder, typed, out);
  return 0;
}

}  // namespace korvel
