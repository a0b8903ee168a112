#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace korvel {

namespace fs = std::filesystem;

namespace {
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

fs::path WriteTarget(const fs::path& path) {
  fs::path target = path;
  std::error_code ec;
  // A bounded walk: a loop of links ends as an error at the rename, not here.
  for (int hops = 0; hops < 40 && fs::is_symlink(target, ec); ++hops) {
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) break;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  return target;
}

fs::path TemporaryFor(const fs::path& target) {
  fs::path temp = target;
  temp += ".tmp";
  return temp;
}

void RemoveStaleTemporaries(const fs::path& target) {
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const std::string base = target.filename().string() + ".tmp";
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(base, 0) != 0) continue;
    const std::string rest = name.substr(base.size());
    if (rest.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ignored;
    if (it->is_regular_file(ignored)) fs::remove(it->path(), ignored);
  }
}

bool WriteFileAtomically(const fs::path& path, const std::string& bytes, Phrase& error) {
  const fs::path target = WriteTarget(path);
  const fs::path temp = TemporaryFor(target);
#ifdef _WIN32
  std::FILE* f = _wfopen(temp.wstring().c_str(), L"wb");
#else
  std::FILE* f = std::fopen(temp.c_str(), "wb");
#endif
  if (!f) {
    error = Say("cannot create {0}: {1}", temp.string(), std::strerror(errno));
    return false;
  }
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && FlushToDisk(f);
  const int savedErrno = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    error = Say("cannot write {0}: {1}", temp.string(), std::strerror(savedErrno));
    std::error_code ec;
    fs::remove(temp, ec);
    return false;
  }
  if (!ReplaceFile(temp, target)) {
#ifdef _WIN32
    error = Say("cannot replace {0}: error {1}", target.string(), GetLastError());
#else
    error = Say("cannot replace {0}: {1}", target.string(), std::strerror(errno));
#endif
    std::error_code ec;
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

uint64_t HardLinkCount(const fs::path& path) {
#ifdef _WIN32
  // The C++ library of the cross build does not count links on Windows.
  HANDLE h =
      CreateFileW(path.wstring().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  return known && info.nNumberOfLinks > 0 ? info.nNumberOfLinks : 1;
#else
  std::error_code ec;
  const auto links = fs::hard_link_count(path, ec);
  return ec ? 1 : uint64_t(links);
#endif
}

bool ReadWholeFile(const fs::path& path, std::string& bytes, bool& missing, Phrase& error) {
  std::error_code ec;
  missing = !fs::exists(path, ec) && !ec;
  if (missing) return false;
  if (!fs::is_regular_file(path, ec)) {
    error = Say("{0} is not a file", path.string());
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = Say("cannot open {0}: {1}", path.string(), std::strerror(errno));
    return false;
  }
  try {
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::exception& e) {
    error = Say("cannot read {0}: {1}", path.string(), e.what());
    return false;
  }
  if (in.bad()) {
    error = Say("cannot read {0}", path.string());
    return false;
  }
  return true;
}

}  // namespace korvel
