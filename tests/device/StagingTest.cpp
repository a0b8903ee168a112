#include <gtest/gtest.h>

#include "device/Staging.h"
#include "platform/CodePage.h"

namespace korvel {
namespace {

int StagedRxCount(const StagingTables& t) {
  int n = 0;
  for (int32_t v : t.RxRegisterImage) n += v != kNotStaged;
  return n;
}

TEST(Staging, FortySixCharactersFillRegisters19To42AndNoMore) {
  StagingTables t;
  const std::string text = "123456789A123456789B123456789C123456789D123456";
  ASSERT_EQ(text.size(), 46u);
  StageString(t, text + "overflow");
  EXPECT_EQ(t.RxRegisterImage[19], EepromWord(94));
  EXPECT_EQ(t.RxRegisterImage[20], ('1' << 8) | '2');
  EXPECT_EQ(t.RxRegisterImage[42], ('5' << 8) | '6');
  EXPECT_EQ(t.RxRegisterImage[43], kNotStaged);
  EXPECT_EQ(StagedRxCount(t), 24);
}

TEST(Staging, OddLengthLeavesZeroInTheLastLowByte) {
  StagingTables t;
  StageString(t, "abc");
  EXPECT_EQ(t.RxRegisterImage[19], EepromWord(8));
  EXPECT_EQ(t.RxRegisterImage[20], ('a' << 8) | 'b');
  EXPECT_EQ(t.RxRegisterImage[21], 'c' << 8);
  EXPECT_EQ(StagedRxCount(t), 3);
}

TEST(Staging, ProductNameStagesOneCodePageByteACharacter) {
  if (SystemCodePage() != 1252) GTEST_SKIP() << "code page " << SystemCodePage();
  StagingTables t;
  const DescriptorText name = ProductNameBytes("USB 2.4G\xC2\xAE");  // "USB 2.4G®"
  ASSERT_EQ(name.problem.English(), "");
  StageString(t, name.bytes);
  EXPECT_EQ(t.RxRegisterImage[19], EepromWord(2 * 9 + 2));
  EXPECT_EQ(t.RxRegisterImage[20], ('U' << 8) | 'S');
  EXPECT_EQ(t.RxRegisterImage[23], ('4' << 8) | 'G');
  EXPECT_EQ(t.RxRegisterImage[24], 0xAE00);  // "®" alone in the high half
  EXPECT_EQ(StagedRxCount(t), 6);
  // An ASCII name is staged as it always was.
  StagingTables ascii, before;
  StageString(ascii, ProductNameBytes("Korvel Mouse").bytes);
  StageString(before, "Korvel Mouse");
  EXPECT_EQ(ascii.RxRegisterImage, before.RxRegisterImage);
}

TEST(Staging, ProductNameIsCutAtFortySixCharactersNotBytes) {
  if (SystemCodePage() != 1252) GTEST_SKIP() << "code page " << SystemCodePage();
  const std::string ascii45 = "123456789A123456789B123456789C123456789D12345";
  for (const std::string& extra : {std::string(), std::string("x"), std::string("xyz")}) {
    StagingTables t;
    const DescriptorText name = ProductNameBytes(ascii45 + "\xC3\xA9" + extra);  // é
    ASSERT_EQ(name.problem.English(), "");
    EXPECT_EQ(name.bytes, ascii45 + "\xE9") << extra;
    StageString(t, name.bytes);
    EXPECT_EQ(t.RxRegisterImage[19], EepromWord(94)) << extra;
    EXPECT_EQ(t.RxRegisterImage[42], ('5' << 8) | 0xE9) << extra;
    EXPECT_EQ(t.RxRegisterImage[43], kNotStaged) << extra;
    EXPECT_EQ(StagedRxCount(t), 24) << extra;
  }
  // 46 two-byte characters in UTF-8 are 46 characters, not 92.
  std::string accents;
  for (int i = 0; i < 46; ++i) accents += "\xC3\xA9";
  EXPECT_EQ(ProductNameBytes(accents).bytes, std::string(46, '\xE9'));
}

TEST(Staging, ProductNameTheCodePageCannotHoldGivesNoBytesAndSaysWhy) {
  const DescriptorText chinese = ProductNameBytes("USB \xE4\xB8\xAD");  // "USB 中"
  EXPECT_EQ(chinese.bytes, "");
  EXPECT_EQ(
      chinese.problem.English().rfind("product name: \"USB \xE4\xB8\xAD\" has a character ", 0), 0u)
      << chinese.problem;
  EXPECT_NE(chinese.problem.English().find("U+4E2D"), std::string::npos) << chinese.problem;
  const DescriptorText broken = ProductNameBytes("USB \xE4\xB8");
  EXPECT_EQ(broken.bytes, "");
  EXPECT_EQ(broken.problem.English(), "product name: the text is not valid UTF-8");
}

TEST(Staging, UnpackingHonoursTheLengthByteLimits) {
  std::vector<uint8_t> asked;
  auto reader = [&](uint8_t reg) {
    asked.push_back(reg);
    return int32_t(('A' + (reg - 20)) << 8 | ('a' + (reg - 20)));
  };
  EXPECT_EQ(UnpackString(8, reader), "AaB");
  EXPECT_EQ(asked, (std::vector<uint8_t>{20, 21}));
  asked.clear();
  EXPECT_EQ(UnpackString(0xFF, reader).size(), 46u);
  EXPECT_EQ(asked.size(), 23u);
  asked.clear();
  for (uint8_t l : {0, 1, 2, 3}) EXPECT_EQ(UnpackString(l, reader), "") << int(l);
  EXPECT_TRUE(asked.empty());
}

TEST(Staging, VidAndPidSplitIntoEepromWords) {
  StagingTables t;
  StageVid(t, 0x1BCF);
  StagePid(t, 0x053A);
  EXPECT_EQ(t.RxRegisterImage[15], 0x1BE4);
  EXPECT_EQ(t.RxRegisterImage[16], 0xCF30);
  EXPECT_EQ(t.RxRegisterImage[17], 0x05FA);
  EXPECT_EQ(t.RxRegisterImage[18], 0x3AC5);
}

TEST(Staging, DisplayFormsOfValuesAndFailures) {
  EXPECT_EQ(FormatRegisterHighByte(0x0AF5), "0A");
  EXPECT_EQ(FormatRegisterHighByte(-1), "FFFFFF");
  EXPECT_EQ(FormatRfByte(0x05), "05");
  EXPECT_EQ(FormatRfByte(-1), "FFFFFFFF");
  EXPECT_EQ(FormatSpecialByte(0), "00");
  EXPECT_EQ(FormatSpecialByte(5), "5");
  EXPECT_EQ(FormatSpecialByte(0x1A), "1A");
}

TEST(Staging, OptionsStageTheirPairOnlyDuringARun) {
  StagingTables t;
  for (uint8_t mode : {kStagingLoading, kStagingIdle}) {
    t.StagingMode = mode;
    EXPECT_FALSE(StageTxOption(t, TxOption::PowerSavingWakeLRM));
    for (int32_t v : t.TxEepromImage) EXPECT_EQ(v, kNotStaged);
  }
  t.StagingMode = kStagingRun;
  TxPair pair{};
  EXPECT_TRUE(StageTxOption(t, TxOption::PowerSavingWakeLRM, &pair));
  EXPECT_EQ(pair.address, 0x16);
  EXPECT_EQ(t.TxEepromImage[0x16], 0xC5);
  EXPECT_EQ(t.TxEepromImage[0x17], 0x3A);
  const std::pair<TxOption, std::pair<int, int>> table[] = {
      {TxOption::CpiSwitchEnabled, {0x12, 0x33}},  {TxOption::CpiSwitchDisabled, {0x12, 0xCC}},
      {TxOption::WakeOnMoveAndKeys, {0x14, 0x55}}, {TxOption::WakeOnKeysOnly, {0x14, 0xAA}},
      {TxOption::PowerSavingOff, {0x16, 0x3C}},    {TxOption::PowerSavingWakeLink, {0x16, 0xCA}},
      {TxOption::AutoBindEnabled, {0x18, 0x5A}},   {TxOption::AutoBindDisabled, {0x18, 0x55}}};
  for (const auto& [option, expected] : table) {
    t.Clear();
    ASSERT_TRUE(StageTxOption(t, option));
    EXPECT_EQ(t.TxEepromImage[expected.first], expected.second);
    EXPECT_EQ(t.TxEepromImage[expected.first + 1], expected.second ^ 0xFF);
  }
  EXPECT_EQ(BatteryLevelValue(0), 0x40);
  EXPECT_EQ(BatteryLevelValue(1), 0x20);
  EXPECT_EQ(BatteryLevelValue(2), 0x00);
  EXPECT_EQ(BatteryLevelValue(-1), 0x20);
}

}  // namespace
}  // namespace korvel
