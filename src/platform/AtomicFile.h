// Files the tool writes are written whole or not at all, and only where the tool means to:
// a temporary is a new file of its own (never an existing name, never through a link), and
// the final name is replaced only when it is a regular file or absent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Phrase.h"
#include "platform/Status.h"

namespace korvel {

// A symbolic link at the final name: TX.ini may be one (its target is the settings and is
// replaced, the link kept); an export's name may not.
enum class LinkPolicy { WriteThrough, Refuse };

// Writes a new file beside the final one and renames it over it at Commit, so a crash or
// power cut leaves the old file or the new one, never a torn one. An uncommitted temporary
// is removed when the writer goes.
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  Status Open(const std::filesystem::path& path, LinkPolicy links);
  Status Write(std::string_view bytes);
  // Flushed to the disk, then renamed over the final name (and the rename made durable).
  Status Commit();
  const std::filesystem::path& Temporary() const { return temp_; }

 private:
  void Discard();
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  std::filesystem::path target_;
  std::filesystem::path temp_;
};

Status WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes,
                           LinkPolicy links = LinkPolicy::WriteThrough);

// Where writes to `path` land: the final target of a chain of symbolic links (relative
// targets resolved from the link's folder), or `path` itself.
std::filesystem::path WriteTarget(const std::filesystem::path& path);
// Why `path` may not be replaced by a save (empty when it may): it is a folder, a device or
// another special file, or (unless links are written through) a symbolic link.
Phrase ReplaceProblem(const std::filesystem::path& path, LinkPolicy links);
// Removes temporaries that saves of `target` left behind when a process was killed
// ("<name>.tmp" followed by digits, regular files only). Only the file's owner may call it.
void RemoveStaleTemporaries(const std::filesystem::path& target);

// How many names (hard links) the file has; 1 when it cannot be told.
uint64_t HardLinkCount(const std::filesystem::path& path);

// A whole file as read, or that there is none.
struct FileContents {
  bool missing = false;
  std::string bytes;
};
// Fails (with the reason) only when the file is there but cannot be read.
Result<FileContents> ReadWholeFile(const std::filesystem::path& path);

}  // namespace korvel
