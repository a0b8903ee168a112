// One station per settings file: an exclusive lock on a file beside it, held for as long as
// the station uses the settings. The lock belongs to the open file, so a second holder in the
// same process is refused as well as one in another process or on another PC (network share).
#pragma once

#include <filesystem>
#include <string>

#include "platform/Phrase.h"
#include "platform/Status.h"

namespace korvel {

class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock on `lockPath` without waiting and writes `holder` into the file, so a
  // station that is refused can say who holds it. A failure names the file and the holder
  // (or the OS error); HeldElsewhere() then tells a holder from an error.
  Status Acquire(const std::filesystem::path& lockPath, const std::string& holder);
  bool HeldElsewhere() const { return heldElsewhere_; }
  void Release();
  bool Held() const;
  const std::filesystem::path& Path() const { return path_; }

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  std::filesystem::path path_;
  bool heldElsewhere_ = false;
};

// Who this process is, for a lock file and the production record: program, pid, host.
std::string ProcessHolderText(const std::string& program);
// The PC's name (empty when the OS cannot say).
std::string HostName();

}  // namespace korvel
