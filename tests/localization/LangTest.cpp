#include <gtest/gtest.h>

#include "TempDir.h"
#include "localization/Lang.h"

namespace korvel {
namespace {

class LangTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCurrentLanguage(lkEng); }
};

TEST_F(LangTest, EveryKeyHasThreeTexts) {
  for (TTerm key = 0; key < kTextCount; ++key)
    for (TLanguateKind k : {lkEng, lkCht, lkChs}) {
      const auto text = TextOf(key, k);
      ASSERT_TRUE(text) << key;
      EXPECT_FALSE(text->empty()) << key;
    }
  EXPECT_EQ(*TextOf(3, lkEng), "&Connect");
  EXPECT_EQ(*TextOf(3, lkCht), "連線(&C)");
  EXPECT_EQ(*TextOf(3, lkChs), "对码(&C)");
  EXPECT_EQ(*TextOf(37, lkChs), "电池低压警告：");
  EXPECT_EQ(*TextOf(57, lkEng), "Program will skip values that reserved for system.");
}

TEST_F(LangTest, GetTextFollowsTheCurrentLanguageAndLeavesUnknownKeysAlone) {
  std::string text = "before";
  SetCurrentLanguage(lkChs);
  GetText(39, text);
  EXPECT_EQ(text, "设定");
  GetText(58, text);
  EXPECT_EQ(text, "设定");
  GetText(-1, text);
  EXPECT_EQ(text, "设定");
}

TEST_F(LangTest, SavedTextsAsTheToolReadsThem) {
  EXPECT_EQ(ParseSavedLanguage("Cht"), lkCht);
  EXPECT_EQ(ParseSavedLanguage("lkcht"), lkCht);
  EXPECT_EQ(ParseSavedLanguage("LKCHS"), lkChs);
  EXPECT_EQ(ParseSavedLanguage("lkEng"), lkEng);
  EXPECT_EQ(ParseSavedLanguage("eng"), lkEng);
  for (const char* bad : {"", "xyz", "English", "lkDeu", " lkEng"})
    EXPECT_FALSE(ParseSavedLanguage(bad)) << bad;
}

TEST_F(LangTest, LoadUsesTheSavedChoiceWithoutAskingOrRewriting) {
  MemoryLanguageStore store{std::nullopt};
  store.value = "Cht";
  int asked = 0;
  EXPECT_EQ(LoadLanguage(store,
                         [&](TLanguateKind) {
                           ++asked;
                           return lkEng;
                         }),
            lkCht);
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(store.writes, 0);
  EXPECT_EQ(*store.value, "Cht");
}

TEST_F(LangTest, AnUnknownSavedTextAsksAndSavesTheAnswer) {
  MemoryLanguageStore store{std::nullopt};
  store.value = "Klingon";
  EXPECT_EQ(LoadLanguage(store, [](TLanguateKind) { return lkChs; }), lkChs);
  EXPECT_EQ(*store.value, "lkChs");
  ForgetLanguage(store);
  EXPECT_FALSE(store.value);
  EXPECT_EQ(CurrentLanguage(), lkChs);  // kept until the next start
}

TEST_F(LangTest, FileStoreKeepsTheValueNames) {
  test::TempDir dir;
  const std::string path = (dir.path / "KORVEL" / "RF_BIND.ini").string();
  auto store = CreateFileLanguageStore(path);
  EXPECT_FALSE(store->Read());
  ASSERT_TRUE(store->Write("lkCht"));
  EXPECT_EQ(store->Read(), "lkCht");
  EXPECT_EQ(CreateFileLanguageStore(path)->Read(), "lkCht");
  store->Forget();
  EXPECT_FALSE(store->Read());
}

TEST_F(LangTest, PreselectionFollowsTheLanguages) {
  EXPECT_EQ(PreselectForCodePage(950), lkCht);
  EXPECT_EQ(PreselectForCodePage(20000), lkCht);
  EXPECT_EQ(PreselectForCodePage(936), lkChs);
  EXPECT_EQ(PreselectForCodePage(52936), lkChs);
  EXPECT_EQ(PreselectForCodePage(1252), lkEng);
  EXPECT_EQ(PreselectForLocale("zh_TW.UTF-8"), lkCht);
  EXPECT_EQ(PreselectForLocale("zh_HK"), lkCht);
  EXPECT_EQ(PreselectForLocale("zh_CN.UTF-8"), lkChs);
  EXPECT_EQ(PreselectForLocale("zh_SG"), lkChs);
  EXPECT_EQ(PreselectForLocale("en_US.UTF-8"), lkEng);
  EXPECT_EQ(PreselectForLocale("C"), lkEng);
}

}  // namespace
}  // namespace korvel

#ifdef _WIN32
namespace korvel {
namespace {
TEST(LangRegistry, KeepsTheChoiceUnderTheUsersKey) {
  auto store = CreateSystemLanguageStore();
  const auto before = store->Read();
  ASSERT_TRUE(store->Write("lkChs"));
  EXPECT_EQ(store->Read(), "lkChs");
  store->Forget();
  EXPECT_FALSE(store->Read());
  if (before) store->Write(*before);  // leave a real PC's choice as it was
}
}  // namespace
}  // namespace korvel
#endif
