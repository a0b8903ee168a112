// Files the tool writes are written whole or not at all.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/Phrase.h"

namespace korvel {

// Writes a temporary file beside `path`, flushes it to the disk and renames it over `path`,
// so a crash or power cut leaves the old file or the new one, never a torn one. A symbolic
// link is followed: its target is replaced and the link kept.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes,
                         Phrase& error);

// Where writes to `path` land: the final target of a chain of symbolic links (relative
// targets resolved from the link's folder), or `path` itself.
std::filesystem::path WriteTarget(const std::filesystem::path& path);
// The one temporary name a save of `target` uses.
std::filesystem::path TemporaryFor(const std::filesystem::path& target);
// Removes temporaries that saves of `target` left behind when a process was killed (the
// fixed name and the older per-process names). Only the file's owner may call it.
void RemoveStaleTemporaries(const std::filesystem::path& target);

// How many names (hard links) the file has; 1 when it cannot be told.
uint64_t HardLinkCount(const std::filesystem::path& path);

// Reads a whole file. False with a message when it exists but cannot be read; a missing
// file gives false with `missing` set.
bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes, bool& missing,
                   Phrase& error);

}  // namespace korvel
