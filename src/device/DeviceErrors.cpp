#include "device/DeviceErrors.h"

#include <cerrno>
#include <cstring>

namespace korvel {

bool IsDeviceGoneError(int osError) {
#ifdef _WIN32
  return osError == 1167;  // ERROR_DEVICE_NOT_CONNECTED
#else
  return osError == ENODEV;
#endif
}

bool IsAccessDeniedError(int osError) {
#ifdef _WIN32
  return osError == 5;  // ERROR_ACCESS_DENIED
#else
  return osError == EACCES;
#endif
}

}  // namespace korvel
