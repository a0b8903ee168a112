#include "localization/Lang.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string_view>
#include <unordered_map>

#include "config/IniFile.h"
#include "platform/AtomicFile.h"
#include "platform/Text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace korvel {

namespace {
struct Entry {
  TTerm key;
  std::array<const char*, 3> texts;
};

const Entry kTable[] = {
#include "localization/LangTable.inc"
};

// The texts this program shows beyond the numbered table: English pattern, Traditional and
// Simplified Chinese, the same {0}, {1} ... in each.
struct PhraseEntry {
  const char* english;
  const char* traditional;
  const char* simplified;
};
const PhraseEntry kPhrases[] = {
#include "localization/PhraseTable.inc"
};

const std::unordered_map<std::string_view, const PhraseEntry*>& PhraseIndex() {
  static const auto index = [] {
    std::unordered_map<std::string_view, const PhraseEntry*> map;
    for (const PhraseEntry& e : kPhrases) map.emplace(e.english, &e);
    return map;
  }();
  return index;
}

std::mutex g_missingLock;
std::set<std::string> g_missing;

TLanguateKind g_current = lkEng;

constexpr const char* kSection = "RF_BIND";
constexpr const char* kValue = "LngSection";

class FileLanguageStore final : public LanguageStore {
 public:
  explicit FileLanguageStore(std::string path) : path_(std::move(path)) {}
  std::optional<std::string> Read() override {
    const Result<FileContents> read = ReadWholeFile(path_);
    if (!read || read->missing) return std::nullopt;
    return IniFile::FromBytes(read->bytes).ReadValue(kSection, kValue);
  }
  bool Write(const std::string& valueName) override {
    // An unreadable file is replaced: it holds nothing but the language choice.
    const Result<FileContents> read = ReadWholeFile(path_);
    IniFile ini = IniFile::FromBytes(read ? read->bytes : std::string());
    ini.WriteString(kSection, kValue, valueName);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    return ini.Save(path_).Ok();
  }
  void Forget() override {
    const Result<FileContents> read = ReadWholeFile(path_);
    if (!read || read->missing) return;
    IniFile ini = IniFile::FromBytes(read->bytes);
    ini.DeleteKey(kSection, kValue);
    // Not forgotten: the next start finds the choice and does not ask; nothing is lost.
    (void)ini.Save(path_);
  }

 private:
  std::string path_;
};

#ifdef _WIN32
constexpr const char* kKey = "Software\\KORVEL\\RF_BIND";

class RegistryLanguageStore final : public LanguageStore {
 public:
  std::optional<std::string> Read() override {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return std::nullopt;
    char buffer[64] = {};
    DWORD size = sizeof buffer - 1, type = 0;
    const LONG r =
        RegQueryValueExA(key, kValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    return std::string(buffer, strnlen(buffer, sizeof buffer - 1));
  }
  bool Write(const std::string& valueName) override {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return false;
    const LONG r =
        RegSetValueExA(key, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(valueName.c_str()),
                       DWORD(valueName.size() + 1));
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
  }
  void Forget() override {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, kValue);
    RegCloseKey(key);
  }
};
#else
std::string ConfigFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return xdg;
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config";
  return ".";
}
#endif
}  // namespace

TLanguateKind CurrentLanguage() {
  return g_current;
}
void SetCurrentLanguage(TLanguateKind kind) {
  g_current = kind;
}

std::optional<std::string> TextOf(TTerm key, TLanguateKind kind) {
  for (const Entry& e : kTable)
    if (e.key == key) return std::string(e.texts[size_t(kind)]);
  return std::nullopt;
}

void GetText(TTerm key, std::string& text) {
  if (auto t = TextOf(key, g_current)) text = *t;
}

bool PatternNeedsWords(const std::string& pattern) {
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 2] == '}') {
      i += 2;
      continue;
    }
    if ((pattern[i] >= 'A' && pattern[i] <= 'Z') || (pattern[i] >= 'a' && pattern[i] <= 'z'))
      return true;
  }
  return false;
}

bool PatternInTable(const std::string& pattern) {
  return !PatternNeedsWords(pattern) || PhraseIndex().count(pattern) != 0;
}

std::string Words(const Phrase& phrase, TLanguateKind kind) {
  return phrase.Words([kind](const std::string& pattern) -> const char* {
    const auto& index = PhraseIndex();
    const auto it = index.find(pattern);
    if (it == index.end()) {
      if (PatternNeedsWords(pattern)) {
        const std::lock_guard<std::mutex> hold(g_missingLock);
        g_missing.insert(pattern);
      }
      return nullptr;
    }
    switch (kind) {
      case lkCht:
        return it->second->traditional;
      case lkChs:
        return it->second->simplified;
      default:
        return nullptr;
    }
  });
}

std::string Words(const Phrase& phrase) {
  return Words(phrase, g_current);
}

std::vector<std::string> UntranslatedPatterns() {
  const std::lock_guard<std::mutex> hold(g_missingLock);
  return {g_missing.begin(), g_missing.end()};
}

std::vector<std::array<std::string, 3>> PhraseTable() {
  std::vector<std::array<std::string, 3>> rows;
  for (const PhraseEntry& e : kPhrases) rows.push_back({e.english, e.traditional, e.simplified});
  return rows;
}

std::string LanguageValueName(TLanguateKind kind) {
  switch (kind) {
    case lkCht:
      return "lkCht";
    case lkChs:
      return "lkChs";
    default:
      return "lkEng";
  }
}

std::optional<TLanguateKind> ParseSavedLanguage(const std::string& saved) {
  const std::string text = saved.size() == 3 ? "lk" + saved : saved;
  for (TLanguateKind k : {lkEng, lkCht, lkChs})
    if (EqualNoCase(text, LanguageValueName(k))) return k;
  return std::nullopt;
}

std::unique_ptr<LanguageStore> CreateFileLanguageStore(const std::string& path) {
  return std::make_unique<FileLanguageStore>(path);
}

std::unique_ptr<LanguageStore> CreateSystemLanguageStore() {
#ifdef _WIN32
  return std::make_unique<RegistryLanguageStore>();
#else
  return CreateFileLanguageStore(ConfigFolder() + "/KORVEL/RF_BIND.ini");
#endif
}

TLanguateKind PreselectForCodePage(unsigned cp) {
  for (unsigned t : {950u, 10002u, 20000u, 20002u, 50937u})
    if (cp == t) return lkCht;
  for (unsigned s : {936u, 10008u, 50935u, 51936u, 52936u})
    if (cp == s) return lkChs;
  return lkEng;
}

TLanguateKind PreselectForLocale(const std::string& locale) {
  const std::string l = locale.substr(0, 5);
  if (EqualNoCase(l, "zh_TW") || EqualNoCase(l, "zh_HK") || EqualNoCase(l, "zh_MO")) return lkCht;
  if (EqualNoCase(l, "zh_CN") || EqualNoCase(l, "zh_SG")) return lkChs;
  return lkEng;
}

TLanguateKind SystemPreselection() {
#ifdef _WIN32
  return PreselectForCodePage(GetACP());
#else
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"})
    if (const char* v = std::getenv(var); v && *v) return PreselectForLocale(v);
  return lkEng;
#endif
}

TLanguateKind LoadLanguage(LanguageStore& store,
                           const std::function<TLanguateKind(TLanguateKind)>& ask) {
  const std::optional<std::string> saved = store.Read();
  if (const auto kind = saved ? ParseSavedLanguage(*saved) : std::nullopt) {
    g_current = *kind;
    return g_current;
  }
  g_current = ask(SystemPreselection());
  SaveLanguage(store);
  return g_current;
}

void SaveLanguage(LanguageStore& store) {
  store.Write(LanguageValueName(g_current));
}

void ForgetLanguage(LanguageStore& store) {
  store.Forget();
}

}  // namespace korvel
