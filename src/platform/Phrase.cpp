#include "platform/Phrase.h"

namespace korvel {

namespace {
// Fills {0}..{9} of `pattern` with `filled(i)`; any other brace stays as written.
template <class F>
std::string Fill(const std::string& pattern, size_t count, F filled) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 2] == '}' &&
        pattern[i + 1] >= '0' && pattern[i + 1] <= '9' && size_t(pattern[i + 1] - '0') < count) {
      out += filled(size_t(pattern[i + 1] - '0'));
      i += 2;
    } else {
      out += pattern[i];
    }
  }
  return out;
}
}  // namespace

std::string Phrase::English() const {
  if (pattern_.empty()) return literal_;
  return Fill(pattern_, args_.size(), [this](size_t i) { return args_[i].English(); });
}

std::string Phrase::Words(const std::function<const char*(const std::string&)>& translate) const {
  if (pattern_.empty()) return literal_;
  const char* translated = translate(pattern_);
  return Fill(translated ? std::string(translated) : pattern_, args_.size(),
              [&](size_t i) { return args_[i].Words(translate); });
}

void Phrase::Patterns(std::vector<std::string>& out) const {
  if (!pattern_.empty()) out.push_back(pattern_);
  for (const Phrase& a : args_) a.Patterns(out);
}

Phrase JoinLines(const std::vector<Phrase>& lines) {
  Phrase joined;
  for (const Phrase& line : lines) joined = joined.empty() ? line : Say("{0}\n{1}", joined, line);
  return joined;
}

}  // namespace korvel
