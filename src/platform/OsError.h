// The operating system's error behind a failed call, as the operator and the record read it.
#pragma once

#include <string>

namespace korvel {

// errno on Linux, GetLastError() on Windows.
int LastOsError();
// "errno 28: No space left on device"; "error 112: There is not enough space on the disk.".
std::string OsErrorText(int osError);
// The disk or its quota is full.
bool IsDiskFullError(int osError);
// The file system is mounted read-only.
bool IsReadOnlyFileSystemError(int osError);

}  // namespace korvel
