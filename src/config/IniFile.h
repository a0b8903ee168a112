// A Windows profile (INI) file as the tool has always read and written it: sections and keys
// matched without regard to case, the first occurrence wins, values are the text after '='
// with surrounding blanks trimmed. Every byte of every line that is not written stays as it
// was: comments, unknown sections and keys, line endings, encoding.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Phrase.h"
#include "platform/Status.h"

namespace korvel {

class IniFile {
 public:
  IniFile() = default;
  static IniFile FromBytes(const std::string& bytes);

  bool HasSection(const std::string& section) const { return Section(section).has_value(); }
  std::optional<std::string> ReadValue(const std::string& section, const std::string& key) const;
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  // Missing or not a whole 32-bit integer (decimal, or hex as $1F / 0x1F): the default.
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
  // Any non-zero integer is true.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  // Replaces the value in place, or appends the key to its section (the section to the file).
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void DeleteKey(const std::string& section, const std::string& key);

  size_t LineCount() const { return lines_.size(); }
  // A line without its line end.
  const std::string& LineText(size_t index) const { return lines_[index].text; }

  std::string Bytes() const;
  // Atomic: the old file or the new one, never a torn one.
  Status Save(const std::filesystem::path& path) const;

  static bool ParseInteger(const std::string& text, int32_t& value);

 private:
  struct Line {
    std::string text;  // without its line ending
    std::string eol;   // "\r\n", "\n" or "" (last line without one)
  };
  // [begin, end) line indexes of the first section so named; nullopt when absent.
  std::optional<std::pair<size_t, size_t>> Section(const std::string& name) const;
  std::optional<size_t> KeyLine(const std::pair<size_t, size_t>& range,
                                const std::string& key) const;
  void InsertLine(size_t at, const std::string& text);

  std::vector<Line> lines_;
  std::string newline_ = "\r\n";
};

}  // namespace korvel
