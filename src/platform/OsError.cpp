#include "platform/OsError.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace korvel {

int LastOsError() {
#ifdef _WIN32
  return int(GetLastError());
#else
  return errno;
#endif
}

std::string OsErrorText(int osError) {
#ifdef _WIN32
  std::string text = "error " + std::to_string(osError);
  char words[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, DWORD(osError), MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT),
                                 words, sizeof words, nullptr);
  std::string said(words, n);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' '))
    said.pop_back();
  return said.empty() ? text : text + ": " + said;
#else
  return "errno " + std::to_string(osError) + ": " + std::strerror(osError);
#endif
}

bool IsDiskFullError(int osError) {
#ifdef _WIN32
  return osError == ERROR_DISK_FULL || osError == ERROR_HANDLE_DISK_FULL;
#else
  return osError == ENOSPC || osError == EDQUOT;
#endif
}

bool IsReadOnlyFileSystemError(int osError) {
#ifdef _WIN32
  return osError == ERROR_WRITE_PROTECT;
#else
  return osError == EROFS;
#endif
}

}  // namespace korvel
