// The numbered text table in three languages, the current language and its saved choice.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Phrase.h"

namespace korvel {

enum TLanguateKind { lkEng = 0, lkCht = 1, lkChs = 2 };
using TTerm = int;
constexpr int kTextCount = 58;

TLanguateKind CurrentLanguage();
void SetCurrentLanguage(TLanguateKind kind);
// The text of `key` in the current language; a key without an entry leaves `text` as it was.
void GetText(TTerm key, std::string& text);
// The same for a given language, for tests and the language dialog.
std::optional<std::string> TextOf(TTerm key, TLanguateKind kind);

// A phrase in words of the current language, or of a given one. A pattern the table lacks
// is shown in English and remembered, so the tests can say which.
std::string Words(const Phrase& phrase);
std::string Words(const Phrase& phrase, TLanguateKind kind);
std::vector<std::string> UntranslatedPatterns();
// Whether the table holds the pattern (one without words, such as "{0}: {1}", needs none).
bool PatternInTable(const std::string& pattern);
// The table itself: English, Traditional and Simplified Chinese.
std::vector<std::array<std::string, 3>> PhraseTable();

// "lkEng", "lkCht", "lkChs".
std::string LanguageValueName(TLanguateKind kind);
// The saved text as the tool has always read it: three characters get "lk" in front, the
// value names match without regard to case; anything else is nothing.
std::optional<TLanguateKind> ParseSavedLanguage(const std::string& text);

// Where the choice is kept: the registry value LngSection under HKCU\Software\KORVEL\RF_BIND
// on Windows, a per-user file with the same names elsewhere.
class LanguageStore {
 public:
  virtual ~LanguageStore() = default;
  virtual std::optional<std::string> Read() = 0;
  virtual bool Write(const std::string& valueName) = 0;
  virtual void Forget() = 0;
};
std::unique_ptr<LanguageStore> CreateSystemLanguageStore();
// A store in memory, for runs that must not touch the operator's choice (the companion's
// simulation, tests).
class MemoryLanguageStore final : public LanguageStore {
 public:
  explicit MemoryLanguageStore(std::optional<std::string> saved = std::string("lkEng"))
      : value(std::move(saved)) {}
  std::optional<std::string> Read() override { return value; }
  bool Write(const std::string& valueName) override {
    value = valueName;
    ++writes;
    return true;
  }
  void Forget() override { value.reset(); }
  std::optional<std::string> value;
  int writes = 0;
};
// The file store on its own, for tests and non-Windows systems.
std::unique_ptr<LanguageStore> CreateFileLanguageStore(const std::string& path);

// The dialog's preselection: Traditional Chinese code pages or zh_TW/zh_HK/zh_MO locales give
// lkCht, Simplified ones (zh_CN/zh_SG) lkChs, anything else lkEng.
TLanguateKind PreselectForCodePage(unsigned codePage);
TLanguateKind PreselectForLocale(const std::string& locale);
TLanguateKind SystemPreselection();

// Start-up: the saved language, or the operator's answer (then saved). Makes it current.
TLanguateKind LoadLanguage(LanguageStore& store,
                           const std::function<TLanguateKind(TLanguateKind)>& ask);
void SaveLanguage(LanguageStore& store);
void ForgetLanguage(LanguageStore& store);

}  // namespace korvel
