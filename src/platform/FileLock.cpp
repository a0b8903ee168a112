#include "platform/FileLock.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/OsError.h"
#include "platform/Text.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace korvel {

namespace {
// The holder line as another station wrote it. Text that is not a plain line (a file someone
// filled with other bytes) is shown as hex, never echoed raw into a message.
std::string HolderText(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '\0'))
    text.pop_back();
  if (text.size() > 200) text.resize(200);
  bool plain = true;
  for (unsigned char c : text) plain &= c >= 0x20 && c < 0x7F;
  if (plain) return text;
  std::string hex = "unreadable holder:";
  for (size_t i = 0; i < text.size() && i < 16; ++i) hex += " " + HexText(uint8_t(text[i]), 2);
  return text.size() > 16 ? hex + " ..." : hex;
}

std::string ReadHolder(const std::filesystem::path& path) {
  std::string text;
#ifdef _WIN32
  HANDLE h = CreateFileW(path.wstring().c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  char buffer[256];
  DWORD got = 0;
  if (ReadFile(h, buffer, sizeof buffer, &got, nullptr)) text.assign(buffer, got);
  CloseHandle(h);
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  char buffer[256];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got > 0) text.assign(buffer, size_t(got));
  ::close(fd);
#endif
  return HolderText(text);
}

Phrase InUse(const std::filesystem::path& lockPath) {
  const std::string holder = ReadHolder(lockPath);
  return holder.empty() ? Say("in use by another station")
                        : Say("in use by another station ({0})", holder);
}

Phrase NotOurs(const std::filesystem::path& lockPath, const Phrase& what) {
  return Say(
      "{0} {1}; the lock file must be a file of the station's own. Remove it and start "
      "again",
      lockPath.string(), what);
}

#ifdef _WIN32
// Windows locks keep others from reading the locked bytes: lock one far beyond the text.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
#endif
}  // namespace

FileLock::~FileLock() {
  Release();
}

bool FileLock::Held() const {
#ifdef _WIN32
  return handle_ != nullptr;
#else
  return fd_ >= 0;
#endif
}

Status FileLock::Acquire(const std::filesystem::path& lockPath, const std::string& holder) {
  heldElsewhere_ = false;
  if (Held()) return {};
#ifdef _WIN32
  // Never through a link: the reparse point itself is opened and then refused.
  HANDLE h =
      CreateFileW(lockPath.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const int code = LastOsError();
    return Status::Failed(Say("cannot open {0}: {1}", lockPath.string(), OsErrorText(code)), code);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  Phrase problem;
  if (!GetFileInformationByHandle(h, &info))
    problem = Say("cannot be examined ({0})", OsErrorText(LastOsError()));
  else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    problem = Say("is a symbolic link or junction");
  else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    problem = Say("is a folder");
  else if (GetFileType(h) != FILE_TYPE_DISK)
    problem = Say("is a device or another special file");
  else if (info.nNumberOfLinks > 1)
    problem = Say("has {0} hard links", uint64_t(info.nNumberOfLinks));
  if (!problem.empty()) {
    CloseHandle(h);
    return Status::Failed(NotOurs(lockPath, problem));
  }
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD code = GetLastError();
    CloseHandle(h);
    heldElsewhere_ = code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING;
    return heldElsewhere_ ? Status::Failed(InUse(lockPath))
                          : Status::Failed(Say("cannot lock {0}: {1}", lockPath.string(),
                                               OsErrorText(int(code))),
                                           int(code));
  }
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(h);
  const std::string text = holder + "\r\n";
  DWORD written = 0;
  WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
  FlushFileBuffers(h);
  handle_ = h;
#else
  // O_NOFOLLOW: a link planted in the lock's place is refused, never followed to its target.
  // O_NONBLOCK: a FIFO there must not hang the start.
  const int fd =
      ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int code = errno;
    if (code == ELOOP) return Status::Failed(NotOurs(lockPath, Say("is a symbolic link")));
    if (code == EISDIR) return Status::Failed(NotOurs(lockPath, Say("is a folder")));
    return Status::Failed(Say("cannot open {0}: {1}", lockPath.string(), OsErrorText(code)), code);
  }
  struct stat st {};
  Phrase problem;
  if (::fstat(fd, &st) != 0)
    problem = Say("cannot be examined ({0})", OsErrorText(errno));
  else if (S_ISDIR(st.st_mode))
    problem = Say("is a folder");
  else if (!S_ISREG(st.st_mode))
    problem = Say("is a device or another special file");
  else if (st.st_nlink > 1)
    problem = Say("has {0} hard links", uint64_t(st.st_nlink));
  if (!problem.empty()) {
    ::close(fd);
    return Status::Failed(NotOurs(lockPath, problem));
  }
  // flock belongs to the open file description: a second open in this process is refused too.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int code = errno;
    ::close(fd);
    heldElsewhere_ = code == EWOULDBLOCK;
    return heldElsewhere_
               ? Status::Failed(InUse(lockPath))
               : Status::Failed(Say("cannot lock {0}: {1}", lockPath.string(), OsErrorText(code)),
                                code);
  }
  // The holder line goes only into a file of our own; another user's lock file (a shared
  // folder) is locked as it is.
  if (st.st_uid == ::geteuid()) {
    const std::string text = holder + "\n";
    if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.data(), text.size(), 0) >= 0) ::fsync(fd);
  }
  fd_ = fd;
#endif
  path_ = lockPath;
  return {};
}

void FileLock::Release() {
  if (!Held()) return;
#ifdef _WIN32
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  UnlockFileEx(static_cast<HANDLE>(handle_), 0, 1, 0, &at);
  CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
#else
  // The file stays: removing it would let a third station lock a new file while a second
  // still waits on the old one.
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
#endif
}

std::string HostName() {
#ifdef _WIN32
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return {};
  std::string out;
  for (DWORD i = 0; i < size; ++i) out += name[i] < 0x80 ? char(name[i]) : '?';
  return out;
#else
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
#endif
}

std::string ProcessHolderText(const std::string& program) {
#ifdef _WIN32
  const int pid = _getpid();
#else
  const int pid = int(::getpid());
#endif
  const std::string since =
      FormatTime(LocalTimeParts(int64_t(std::time(nullptr))), "%Y-%m-%d %H:%M:%S");
  return program + ", pid " + std::to_string(pid) + " on " + HostName() + ", since " + since;
}

}  // namespace korvel
