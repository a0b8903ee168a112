#include "config/IniFile.h"

#include <cctype>
#include <limits>
#include <string_view>

#include "platform/AtomicFile.h"
#include "platform/Text.h"

namespace korvel {

namespace {
constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view TrimView(std::string_view s) {
  return TrimBlanks(s);
}

std::string Trim(const std::string& s) {
  return std::string(TrimBlanks(s));
}

// The text that counts for matching: no byte-order mark.
std::string_view Content(const std::string& text, size_t index) {
  std::string_view v = text;
  if (index == 0 && v.substr(0, kBom.size()) == kBom) v.remove_prefix(kBom.size());
  return v;
}

// Looked at for every line of every lookup: no copies.
std::optional<std::string_view> SectionName(std::string_view content) {
  const std::string_view t = TrimView(content);
  if (t.empty() || t[0] != '[') return std::nullopt;
  const size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return TrimView(t.substr(1, close - 1));
}
}  // namespace

IniFile IniFile::FromBytes(const std::string& bytes) {
  IniFile ini;
  size_t start = 0;
  bool sawCrLf = false, sawLf = false, sawCr = false;
  // CR LF, LF and a lone CR each end a line, as the system's profile functions read them.
  while (start < bytes.size()) {
    const size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      ini.lines_.push_back({bytes.substr(start), ""});
      break;
    }
    std::string eol = bytes[end] == '\n' ? "\n" : "\r";
    if (eol == "\r" && end + 1 < bytes.size() && bytes[end + 1] == '\n') eol = "\r\n";
    (eol == "\r\n" ? sawCrLf : eol == "\n" ? sawLf : sawCr) = true;
    ini.lines_.push_back({bytes.substr(start, end - start), eol});
    start = end + eol.size();
  }
  // New lines take the file's own line ends.
  ini.newline_ = sawCrLf || (!sawLf && !sawCr) ? "\r\n" : sawLf ? "\n" : "\r";
  return ini;
}

std::string IniFile::Bytes() const {
  std::string out;
  for (const Line& l : lines_) out += l.text + l.eol;
  return out;
}

Status IniFile::Save(const std::filesystem::path& path) const {
  return WriteFileAtomically(path, Bytes());
}

std::optional<std::pair<size_t, size_t>> IniFile::Section(const std::string& name) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const auto found = SectionName(Content(lines_[i].text, i));
    if (!found || !EqualNoCase(*found, name)) continue;
    size_t end = i + 1;
    while (end < lines_.size() && !SectionName(Content(lines_[end].text, end))) ++end;
    return std::make_pair(i + 1, end);
  }
  return std::nullopt;
}

std::optional<size_t> IniFile::KeyLine(const std::pair<size_t, size_t>& range,
                                       const std::string& key) const {
  const std::string_view wanted = TrimView(key);
  for (size_t i = range.first; i < range.second; ++i) {
    const std::string_view t = lines_[i].text;
    const std::string_view trimmed = TrimView(t);
    if (trimmed.empty() || trimmed[0] == ';') continue;
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) continue;
    if (EqualNoCase(TrimView(t.substr(0, eq)), wanted)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> IniFile::ReadValue(const std::string& section,
                                              const std::string& key) const {
  const auto range = Section(section);
  if (!range) return std::nullopt;
  const auto line = KeyLine(*range, key);
  if (!line) return std::nullopt;
  const std::string& t = lines_[*line].text;
  return Trim(t.substr(t.find('=') + 1));
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
  return ReadValue(section, key).value_or(def);
}

bool IniFile::ParseInteger(const std::string& text, int32_t& value) {
  std::string t = Trim(text);
  bool negative = false;
  size_t i = 0;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  int base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == t.size()) return false;
  int64_t magnitude = 0;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    magnitude = magnitude * base + d;
    if (magnitude > int64_t(std::numeric_limits<uint32_t>::max())) return false;
  }
  int64_t v = negative ? -magnitude : magnitude;
  // Hex may spell a negative 32-bit value ($FFFFFFFF), decimal may not overflow.
  if (base == 16 && !negative && v > std::numeric_limits<int32_t>::max()) v -= int64_t(1) << 32;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    return false;
  value = int32_t(v);
  return true;
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& key,
                             int32_t def) const {
  const auto text = ReadValue(section, key);
  int32_t v;
  return text && ParseInteger(*text, v) ? v : def;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::InsertLine(size_t at, const std::string& text) {
  if (at > 0 && lines_[at - 1].eol.empty()) lines_[at - 1].eol = newline_;
  lines_.insert(lines_.begin() + long(at), Line{text, newline_});
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  auto range = Section(section);
  if (!range) {
    InsertLine(lines_.size(), "[" + section + "]");
    range = std::make_pair(lines_.size(), lines_.size());
  }
  if (const auto line = KeyLine(*range, key)) {
    std::string& t = lines_[*line].text;
    t = t.substr(0, t.find('=') + 1) + value;
    return;
  }
  // After the section's last non-blank line, so blank separators stay below it.
  size_t at = range->second;
  while (at > range->first && Trim(lines_[at - 1].text).empty()) --at;
  InsertLine(at, key + "=" + value);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::DeleteKey(const std::string& section, const std::string& key) {
  const auto range = Section(section);
  if (!range) return;
  if (const auto line = KeyLine(*range, key)) {
    // The last line keeps the file's own (missing) final line ending.
    if (*line + 1 == lines_.size() && *line > 0)
      lines_[*line - 1].eol = lines_[*line].eol.empty() ? "" : lines_[*line - 1].eol;
    lines_.erase(lines_.begin() + long(*line));
  }
}

}  // namespace korvel
