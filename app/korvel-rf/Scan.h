#pragma once

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

}  // namespace korvel
