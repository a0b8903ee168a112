#include "device/DeviceStatus.h"

#include <cerrno>
#include <cstring>

namespace korvel {

std::string OsErrorText(int osError) {
#ifdef _WIN32
  return "error " + std::to_string(osError);
#else
  return "errno " + std::to_string(osError) + ": " + std::strerror(osError);
#endif
}

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
