#include "platform/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/OsError.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace korvel {

namespace fs = std::filesystem;

namespace {
constexpr int kTemporaryTries = 20;

// Ten digits: unguessable enough that nobody plants the name first, and O_EXCL / CREATE_NEW
// refuse it if someone did.
std::string TemporarySuffix() {
  static std::atomic<uint64_t> counter{0};
  thread_local std::mt19937_64 random([] {
    std::random_device device;
    return (uint64_t(device()) << 32) ^ device() ^
           uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  }());
  std::string digits = std::to_string((random() ^ counter++) % 10000000000ull);
  digits.insert(0, 10 - digits.size(), '0');
  return ".tmp" + digits;
}

fs::path Folder(const fs::path& path) {
  return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

bool MakeRenameDurable(const fs::path& to) {
#ifdef _WIN32
  (void)to;  // MOVEFILE_WRITE_THROUGH did it
  return true;
#else
  const int fd = ::open(Folder(to).c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
  if (fd < 0) return true;  // the rename happened; durability is best effort here
  ::fsync(fd);
  ::close(fd);
  return true;
#endif
}
}  // namespace

fs::path WriteTarget(const fs::path& path) {
  fs::path target = path;
  std::error_code ec;
  // A bounded walk: a loop of links ends as an error when the save looks at it.
  for (int hops = 0; hops < 40 && fs::is_symlink(target, ec); ++hops) {
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) break;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  return target;
}

Phrase ReplaceProblem(const fs::path& path, LinkPolicy links) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec || status.type() == fs::file_type::not_found) return {};
  if (status.type() == fs::file_type::symlink)
    return links == LinkPolicy::Refuse
               ? Say("{0} is a symbolic link; the tool replaces only a file of its own there",
                     path.string())
               : Say("{0} is a symbolic link that leads nowhere a file can be written",
                     path.string());
  if (status.type() == fs::file_type::directory)
    return Say("{0} is a folder, not a file", path.string());
  if (status.type() != fs::file_type::regular)
    return Say("{0} is a device or another special file, not a file", path.string());
  return {};
}

AtomicFileWriter::~AtomicFileWriter() {
  Discard();
}

void AtomicFileWriter::Discard() {
#ifdef _WIN32
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
#else
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
#endif
  if (!temp_.empty()) {
    std::error_code ec;
    fs::remove(temp_, ec);
  }
  temp_.clear();
}

Status AtomicFileWriter::Open(const fs::path& path, LinkPolicy links) {
  Discard();
  target_ = links == LinkPolicy::WriteThrough ? WriteTarget(path) : path;
  if (Phrase problem = ReplaceProblem(target_, links); !problem.empty())
    return Status::Failed(std::move(problem));
  for (int attempt = 0; attempt < kTemporaryTries; ++attempt) {
    fs::path temp = target_;
    temp += TemporarySuffix();
#ifdef _WIN32
    // CREATE_NEW never opens an existing name, link or not.
    HANDLE h = CreateFileW(temp.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const int code = LastOsError();
      if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) continue;
      return Status::Failed(Say("cannot create {0}: {1}", temp.string(), OsErrorText(code)), code);
    }
    handle_ = h;
#else
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      const int code = errno;
      if (code == EEXIST) continue;
      return Status::Failed(Say("cannot create {0}: {1}", temp.string(), OsErrorText(code)), code);
    }
    fd_ = fd;
#endif
    temp_ = temp;
    return {};
  }
  return Status::Failed(
      Say("cannot create a temporary file beside {0}: every name tried exists", target_.string()));
}

Status AtomicFileWriter::Write(std::string_view bytes) {
  while (!bytes.empty()) {
#ifdef _WIN32
    DWORD written = 0;
    const DWORD chunk = DWORD(std::min<size_t>(bytes.size(), 1u << 30));
    if (!handle_ ||
        !WriteFile(static_cast<HANDLE>(handle_), bytes.data(), chunk, &written, nullptr)) {
      const int code = LastOsError();
      Status failed =
          Status::Failed(Say("cannot write {0}: {1}", temp_.string(), OsErrorText(code)), code);
      Discard();
      return failed;
    }
#else
    const ssize_t written = fd_ < 0 ? -1 : ::write(fd_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int code = written < 0 ? errno : EIO;
      Status failed =
          Status::Failed(Say("cannot write {0}: {1}", temp_.string(), OsErrorText(code)), code);
      Discard();
      return failed;
    }
#endif
    bytes.remove_prefix(size_t(written));
  }
  return {};
}

Status AtomicFileWriter::Commit() {
  auto fail = [this](Phrase what, int code) {
    Discard();
    return Status::Failed(std::move(what), code);
  };
  auto cannotWrite = [this](int code) {
    return Say("cannot write {0}: {1}", temp_.string(), OsErrorText(code));
  };
#ifdef _WIN32
  HANDLE h = static_cast<HANDLE>(handle_);
  if (!h || !FlushFileBuffers(h)) {
    const int code = LastOsError();
    return fail(cannotWrite(code), code);
  }
  CloseHandle(h);
  handle_ = nullptr;
#else
  if (fd_ < 0 || ::fsync(fd_) != 0) {
    const int code = fd_ < 0 ? EBADF : errno;
    return fail(cannotWrite(code), code);
  }
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) {
    const int code = errno;
    return fail(cannotWrite(code), code);
  }
#endif
  // Looked at again: a link or folder put there meanwhile is refused. (A rename replaces a
  // link, it never writes through one, so what slips in after this is replaced, not harmed.)
  if (Phrase problem = ReplaceProblem(target_, LinkPolicy::Refuse); !problem.empty()) {
    Discard();
    return Status::Failed(std::move(problem));
  }
#ifdef _WIN32
  if (!MoveFileExW(temp_.wstring().c_str(), target_.wstring().c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const int code = LastOsError();
    return fail(Say("cannot replace {0}: {1}", target_.string(), OsErrorText(code)), code);
  }
#else
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
    const int code = errno;
    return fail(Say("cannot replace {0}: {1}", target_.string(), OsErrorText(code)), code);
  }
#endif
  MakeRenameDurable(target_);
  temp_.clear();
  return {};
}

Status WriteFileAtomically(const fs::path& path, const std::string& bytes, LinkPolicy links) {
  AtomicFileWriter writer;
  if (Status opened = writer.Open(path, links); !opened) return opened;
  if (Status written = writer.Write(bytes); !written) return written;
  return writer.Commit();
}

void RemoveStaleTemporaries(const fs::path& target) {
  const std::string base = target.filename().string() + ".tmp";
  std::error_code ec;
  for (fs::directory_iterator it(Folder(target), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(base, 0) != 0) continue;
    const std::string rest = name.substr(base.size());
    if (rest.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ignored;
    // Not through a link: only our own regular files go.
    if (it->symlink_status(ignored).type() == fs::file_type::regular)
      fs::remove(it->path(), ignored);
  }
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

Result<FileContents> ReadWholeFile(const fs::path& path) {
  std::error_code ec;
  FileContents contents;
  contents.missing = !fs::exists(path, ec) && !ec;
  if (contents.missing) return contents;
  if (!fs::is_regular_file(path, ec))
    return Status::Failed(Say("{0} is not a file", path.string()));
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int code = errno;
    return Status::Failed(Say("cannot open {0}: {1}", path.string(), OsErrorText(code)), code);
  }
  try {
    contents.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::exception& e) {
    return Status::Failed(Say("cannot read {0}: {1}", path.string(), e.what()));
  }
  if (in.bad()) return Status::Failed(Say("cannot read {0}", path.string()));
  return contents;
}

}  // namespace korvel
