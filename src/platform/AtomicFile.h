// Files the tool writes are written whole or not at all.
#pragma once

#include <filesystem>
#include <string>

namespace korvel {

// Writes a temporary file beside `path`, flushes it to the disk and renames it over `path`,
// so a crash or power cut leaves the old file or the new one, never a torn one.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes,
                         std::string& error);

// Reads a whole file. False with a message when it exists but cannot be read; a missing
// file gives false with `missing` set.
bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes, bool& missing,
                   std::string& error);

}  // namespace korvel
