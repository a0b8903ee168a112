#pragma once

#include <filesystem>
#include <optional>
#include <ostream>

#include "device/HidAccess.h"
#include "device/ReceiverFinder.h"

namespace korvel {

// Lists every interface the platform presents and marks with '*' the one the tool would
// open: the first identity of the finder's walk (built-in entries, TX.ini's Device entries,
// then the typed VID/PID) that matches, its last matching interface.
void ScanInterfaces(HidAccess& hid, ReceiverFinder& finder, std::optional<VidPid> typed,
                    std::ostream& out);
// 'korvel-rf scan': the same with TX.ini's Device entries and typed VID/PID, as the tool
// searches; a settings file that cannot be read is a warning. Returns the exit code.
int RunScan(HidPlatform& platform, Host& host, const std::filesystem::path& ini, std::ostream& out,
            std::ostream& err);

}  // namespace korvel
