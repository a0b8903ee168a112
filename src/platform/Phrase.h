// A text for the operator as a value: a pattern of the program's text table and its
// arguments, put into words in the operator's language only where it is shown. The record
// and the companion keep it in English.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace korvel {

class Phrase {
 public:
  Phrase() = default;
  // Words never translated: a path, a number, an OS error text, a value as a file holds it.
  static Phrase Literal(std::string text) {
    Phrase p;
    p.literal_ = std::move(text);
    return p;
  }
  // A pattern of the text table; {0}, {1}, ... take the arguments in order. An argument is a
  // phrase (translated in its turn) or a string or number (a literal).
  template <class... A>
  static Phrase Say(const char* pattern, A&&... args) {
    Phrase p;
    p.pattern_ = pattern;
    (p.args_.push_back(Arg(std::forward<A>(args))), ...);
    return p;
  }

  bool empty() const { return pattern_.empty() && literal_.empty(); }
  // In English: the pattern as written.
  std::string English() const;
  // In a language: `translate` gives a pattern's text in it, or null for the English one.
  std::string Words(const std::function<const char*(const std::string&)>& translate) const;
  // Every pattern within, this one's first.
  void Patterns(std::vector<std::string>& out) const;
  bool operator==(const Phrase& other) const = default;

 private:
  static Phrase Arg(Phrase p) { return p; }
  static Phrase Arg(std::string s) { return Literal(std::move(s)); }
  static Phrase Arg(const char* s) { return Literal(s); }
  template <class N, class = std::enable_if_t<std::is_arithmetic_v<std::decay_t<N>>>>
  static Phrase Arg(N n) {
    return Literal(std::to_string(n));
  }

  std::string pattern_;
  std::string literal_;
  std::vector<Phrase> args_;
};

// Phrase::Say, shorter at the call site.
template <class... A>
Phrase Say(const char* pattern, A&&... args) {
  return Phrase::Say(pattern, std::forward<A>(args)...);
}
// In English, for logs and test output.
inline std::ostream& operator<<(std::ostream& out, const Phrase& phrase) {
  return out << phrase.English();
}
// Lines one under the other, each in words of its own.
Phrase JoinLines(const std::vector<Phrase>& lines);

}  // namespace korvel
