// Texts for the operator as values, and their words in the three languages.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>

#include "localization/Lang.h"
#include "localization/ShownTextCheck.h"
#include "platform/Phrase.h"

namespace korvel {
namespace {

[[maybe_unused]] const auto* const g_check =
    ::testing::AddGlobalTestEnvironment(new test::EveryShownTextHasWords);

std::set<std::string> Placeholders(const std::string& text) {
  std::set<std::string> found;
  const std::regex placeholder(R"(\{\d\})");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), placeholder);
       it != std::sregex_iterator(); ++it)
    found.insert(it->str());
  return found;
}

// The pattern of every Say("...") in a source text (adjacent literals joined, escapes read).
// A Say whose pattern is not a literal is returned as "<not a literal>: ..." so a test can
// refuse it: the table can only be checked against patterns it can see.
std::vector<std::string> SayPatterns(const std::string& source) {
  std::vector<std::string> patterns;
  for (size_t at = source.find("Say("); at != std::string::npos; at = source.find("Say(", at + 4)) {
    if (at > 0 && (std::isalnum(uint8_t(source[at - 1])) || source[at - 1] == '_')) continue;
    size_t i = at + 4;
    auto blanks = [&] {
      while (i < source.size() && std::isspace(uint8_t(source[i]))) ++i;
    };
    blanks();
    if (i >= source.size() || source[i] != '"') {
      patterns.push_back("<not a literal>: " + source.substr(at, 60));
      continue;
    }
    std::string pattern;
    while (i < source.size() && source[i] == '"') {
      for (++i; i < source.size() && source[i] != '"'; ++i) {
        if (source[i] != '\\') {
          pattern += source[i];
          continue;
        }
        const char e = source[++i];
        pattern += e == 'n' ? '\n' : e == 't' ? '\t' : e;
      }
      ++i;
      blanks();
    }
    patterns.push_back(pattern);
  }
  return patterns;
}

TEST(Phrase, FillsItsPlaceholdersInTheOrderTheWordsNeed) {
  const Phrase p = Say("{0} read-back {1} != {2}", Say("RX register {0}", 19), "0x12", 7);
  EXPECT_EQ(p.English(), "RX register 19 read-back 0x12 != 7");
  // A language may put the arguments elsewhere; each nested phrase is put in words too, and
  // a literal never is.
  auto translate = [](const std::string& pattern) -> const char* {
    if (pattern == "{0} read-back {1} != {2}") return "[{2}|{1}|{0}]";
    if (pattern == "RX register {0}") return "R{0}";
    return nullptr;
  };
  EXPECT_EQ(p.Words(translate), "[7|0x12|R19]");
  EXPECT_EQ(Phrase::Literal("RX register {0}").Words(translate), "RX register {0}");
  // A brace that is no placeholder of this phrase stays as written.
  EXPECT_EQ(Say("{a} {1} {0}", "x").English(), "{a} {1} x");
  std::vector<std::string> patterns;
  p.Patterns(patterns);
  EXPECT_EQ(patterns, (std::vector<std::string>{"{0} read-back {1} != {2}", "RX register {0}"}));
  EXPECT_EQ(JoinLines({Say("a"), Phrase::Literal("b"), Say("c")}).English(), "a\nb\nc");
  EXPECT_TRUE(JoinLines({}).empty());
}

TEST(Phrase, TheOperatorsLanguageGivesTheWordsAndTheRecordKeepsEnglish) {
  const Phrase reason = Say("{0} failed", Say("TX settings"));
  EXPECT_EQ(reason.English(), "TX settings failed");
  EXPECT_EQ(Words(reason, lkEng), "TX settings failed");
  EXPECT_EQ(Words(reason, lkCht), "TX 設定 失敗");
  EXPECT_EQ(Words(reason, lkChs), "TX 设定 失败");
}

TEST(Phrase, EveryRowOfTheTableHasThreeTextsWithTheSamePlaceholders) {
  std::set<std::string> english;
  for (const auto& [en, cht, chs] : PhraseTable()) {
    EXPECT_TRUE(english.insert(en).second) << "twice: " << en;
    EXPECT_FALSE(cht.empty()) << en;
    EXPECT_FALSE(chs.empty()) << en;
    EXPECT_EQ(Placeholders(cht), Placeholders(en)) << en;
    EXPECT_EQ(Placeholders(chs), Placeholders(en)) << en;
  }
  EXPECT_GT(english.size(), 100u);
}

TEST(Phrase, EveryPatternInTheSourcesHasAnEntryAndEveryEntryIsUsed) {
  const std::filesystem::path root = KORVEL_SOURCE_DIR;
  ASSERT_TRUE(std::filesystem::is_directory(root / "src")) << root;
  std::set<std::string> used;
  size_t files = 0;
  for (const char* folder : {"src", "app"})
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
      const std::filesystem::path& path = entry.path();
      if (path.extension() != ".cpp" && path.extension() != ".h") continue;
      if (path.filename() == "Phrase.h") continue;  // where Say itself is declared
      std::ifstream in(path, std::ios::binary);
      const std::string source{std::istreambuf_iterator<char>(in), {}};
      ++files;
      for (const std::string& pattern : SayPatterns(source)) {
        EXPECT_EQ(pattern.rfind("<not a literal>", 0), std::string::npos)
            << path.string() << ": " << pattern;
        EXPECT_TRUE(PatternInTable(pattern))
            << path.string() << ": no entry for \"" << pattern << "\"";
        used.insert(pattern);
      }
    }
  EXPECT_GT(files, 50u);
  for (const auto& row : PhraseTable())
    EXPECT_TRUE(used.count(row[0])) << "an entry nothing says: \"" << row[0] << "\"";
}

TEST(Phrase, TheScanReadsJoinedLiteralsAndEscapes) {
  const std::string source =
      "x = Say(\"a \\\"b\\\"\\n\"\n    \"c {0}\", n); MySay(\"no\"); Say(name);";
  const std::vector<std::string> found = SayPatterns(source);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], "a \"b\"\nc {0}");
  EXPECT_EQ(found[1].rfind("<not a literal>", 0), 0u);
}

}  // namespace
}  // namespace korvel
