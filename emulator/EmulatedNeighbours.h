// Other vendors' HID devices that sit beside the dongle on a line PC.
#pragma once

#include "EmulatedHid.h"

namespace korvel {

// A keyboard (two collections, one with a 65-byte feature report) and a vendor-page device
// with a 9-byte feature report of its own: neither may be taken for the RX.
void AttachTypicalNeighbours(EmulatedHidPlatform& platform);

}  // namespace korvel
