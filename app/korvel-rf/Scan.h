#pragma once

#include <ostream>

#include "device/HidAccess.h"

namespace korvel {

// Lists every interface the platform presents and marks with '*' the one the tool would
// open: the first VidPidTable entry that OpenDeviceByVidPid accepts, in table order.
void ScanInterfaces(HidAccess& hid, std::ostream& out);

}  // namespace korvel
