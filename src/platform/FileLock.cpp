#include "platform/FileLock.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include "platform/Text.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace korvel {

namespace {
std::string ReadHolder(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '\0'))
    text.pop_back();
  return text.size() > 200 ? text.substr(0, 200) : text;
}

Phrase InUse(const std::filesystem::path& lockPath) {
  const std::string holder = ReadHolder(lockPath);
  return holder.empty() ? Say("in use by another station")
                        : Say("in use by another station ({0})", holder);
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

bool FileLock::Acquire(const std::filesystem::path& lockPath, const std::string& holder,
                       Phrase& error, bool& heldElsewhere) {
  heldElsewhere = false;
  if (Held()) return true;
#ifdef _WIN32
  HANDLE h = CreateFileW(lockPath.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = Say("cannot open {0}: error {1}", lockPath.string(), GetLastError());
    return false;
  }
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD code = GetLastError();
    CloseHandle(h);
    heldElsewhere = code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING;
    error = heldElsewhere ? InUse(lockPath)
                          : Say("cannot lock {0}: error {1}", lockPath.string(), code);
    return false;
  }
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(h);
  const std::string text = holder + "\r\n";
  DWORD written = 0;
  WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
  FlushFileBuffers(h);
  handle_ = h;
#else
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = Say("cannot open {0}: errno {1}: {2}", lockPath.string(), errno, std::strerror(errno));
    return false;
  }
  // flock belongs to the open file description: a second open in this process is refused too.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int code = errno;
    ::close(fd);
    heldElsewhere = code == EWOULDBLOCK;
    error = heldElsewhere ? InUse(lockPath)
                          : Say("cannot lock {0}: errno {1}: {2}", lockPath.string(), code,
                                std::strerror(code));
    return false;
  }
  const std::string text = holder + "\n";
  if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.data(), text.size(), 0) >= 0) ::fsync(fd);
  fd_ = fd;
#endif
  path_ = lockPath;
  return true;
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
