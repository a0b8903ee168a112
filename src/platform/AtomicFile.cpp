#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace korvel {

namespace fs = std::filesystem;

namespace {
int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return int(getpid());
#endif
}

bool FlushToDisk(std::FILE* f) {
  if (std::fflush(f) != 0) return false;
#ifdef _WIN32
  return _commit(_fileno(f)) == 0;
#else
  return fsync(fileno(f)) == 0;
#endif
}

bool ReplaceFile(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
  return MoveFileExW(from.wstring().c_str(), to.wstring().c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  if (std::rename(from.c_str(), to.c_str()) != 0) return false;
  // Make the rename itself durable.
  const fs::path dir = to.has_parent_path() ? to.parent_path() : fs::path(".");
  const int fd = ::open(dir.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return true;
#endif
}
}  // namespace

bool WriteFileAtomically(const fs::path& path, const std::string& bytes, std::string& error) {
  fs::path temp = path;
  temp += ".tmp" + std::to_string(ProcessId());
#ifdef _WIN32
  std::FILE* f = _wfopen(temp.wstring().c_str(), L"wb");
#else
  std::FILE* f = std::fopen(temp.c_str(), "wb");
#endif
  if (!f) {
    error = "cannot create " + temp.string() + ": " + std::strerror(errno);
    return false;
  }
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && FlushToDisk(f);
  const int savedErrno = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    error = "cannot write " + temp.string() + ": " + std::strerror(savedErrno);
    std::error_code ec;
    fs::remove(temp, ec);
    return false;
  }
  if (!ReplaceFile(temp, path)) {
    error = "cannot replace " + path.string() + ": " + std::strerror(errno);
    std::error_code ec;
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

bool ReadWholeFile(const fs::path& path, std::string& bytes, bool& missing, std::string& error) {
  std::error_code ec;
  missing = !fs::exists(path, ec) && !ec;
  if (missing) return false;
  if (!fs::is_regular_file(path, ec)) {
    error = path.string() + " is not a file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path.string() + ": " + std::strerror(errno);
    return false;
  }
  try {
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::exception& e) {
    error = "cannot read " + path.string() + ": " + e.what();
    return false;
  }
  if (in.bad()) {
    error = "cannot read " + path.string();
    return false;
  }
  return true;
}

}  // namespace korvel
