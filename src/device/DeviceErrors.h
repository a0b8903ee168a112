// What the device layer adds to the tool's one status type: the OS errors it tells apart.
// CommandFailed keeps its protocol meaning beside the status each operation gives back.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "platform/OsError.h"
#include "platform/Phrase.h"
#include "platform/Status.h"

namespace korvel {

// The error a transfer gets once its device is unplugged.
bool IsDeviceGoneError(int osError);
// The error an open gets when the system's permissions keep this user out.
bool IsAccessDeniedError(int osError);

}  // namespace korvel
