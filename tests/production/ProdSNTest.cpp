#include <gtest/gtest.h>

#include <limits>

#include "production/NumberingLedger.h"
#include "production/ProdSN.h"

namespace korvel {
namespace {

TProdSN On(LocalDate date, TProdSN sn = TProdSN()) {
  sn.SetDateSource([date] { return date; });
  return sn;
}

TEST(ProdSN, CreateGivesTheDefaults) {
  const TProdSN sn;
  EXPECT_FALSE(sn.IsSN());
  EXPECT_TRUE(sn.IsDate());
  EXPECT_EQ(sn.FixSNByteCount(), 2);
  EXPECT_EQ(sn.IncSNByteCount(), 2);
  EXPECT_EQ(sn.FixSN(), 0);
  EXPECT_TRUE(sn.IsFixAscii());
  EXPECT_EQ(sn.IncInitSN(), 0);
  EXPECT_EQ(sn.IncPrevSN(), -1);
  EXPECT_EQ(sn.IncNextSN(), 0);
  EXPECT_EQ(sn.GetSNText(), "");
}

TEST(ProdSN, DateWordAtYearEndsAndLeapDays) {
  EXPECT_EQ(TProdSN::DateWord({2009, 1, 1}), 0x1201);
  EXPECT_EQ(TProdSN::DateWord({2024, 12, 31}), 0x316E);  // day 366
  EXPECT_EQ(TProdSN::DateWord({2023, 12, 31}), 0x2F6D);  // day 365
  EXPECT_EQ(TProdSN::DateWord({2026, 12, 7}), 0x3555);
  EXPECT_EQ(TProdSN::DateWord({2000, 2, 29}), 0x003C);  // 2000 is a leap year
  EXPECT_EQ(TProdSN::DateWord({2100, 3, 1}), 0x003C);   // 2100 is not: 1 March is day 60
  EXPECT_EQ(TProdSN::DateWord({2099, 12, 31}), (99 << 9) | 365);
  EXPECT_EQ(On({2026, 12, 7}).GetDateText(), "2026.12.07");
}

TEST(ProdSN, BytesAndTextOfAFullSerial) {
  TProdSN sn = On({2009, 1, 1});
  sn.SetIsSN(true);
  sn.SetFixSN(0x4142);
  const uint8_t expected[] = {0x12, 0x01, 0x41, 0x42, 0x00, 0x00};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(sn.GetSNByte(i), expected[i]) << i;
  EXPECT_EQ(sn.GetSNText(), "1201-4142-0000");
  EXPECT_EQ(sn.IncPrevSN(), -1);  // asking changes nothing
}

TEST(ProdSN, DashesFollowTheDateAndTheFixedPart) {
  TProdSN sn = On({2026, 12, 7});
  sn.SetIsSN(true);
  sn.SetIsDate(false);
  sn.SetFixSNByteCount(3);
  sn.SetFixSN(0x414243);
  sn.SetIncInitSN(0x10);
  EXPECT_EQ(sn.GetSNText(), "414243-000010");
  for (int fixed : {0, 1, 6}) {
    sn.SetFixSNByteCount(fixed);
    EXPECT_EQ(sn.GetSNText().find('-'), std::string::npos) << fixed;
  }
  sn.SetIsDate(true);  // 6/0 -> 4/0 ... the date takes from the fixed part
  sn.SetFixSNByteCount(0);
  EXPECT_EQ(sn.GetSNText(), "3555-00000010");
}

TEST(ProdSN, IncrementingPartWrapsAndZeroBytesGiveZero) {
  TProdSN sn;
  sn.SetIncPrevSN(0xFFFF);
  EXPECT_EQ(sn.IncNextSN(), 0);
  sn.SetIncPrevSN(0x1234);
  EXPECT_EQ(sn.IncNextSN(), 0x1235);
  sn.SetIncSNByteCount(0);
  EXPECT_EQ(sn.FixSNByteCount(), 4);
  EXPECT_EQ(sn.IncNextSN(), 0);
  // The largest counter wraps instead of overflowing.
  sn.SetIsDate(false);
  sn.SetIncSNByteCount(6);
  sn.SetIncPrevSN(std::numeric_limits<int64_t>::max());
  EXPECT_EQ(sn.IncNextSN(), std::numeric_limits<int64_t>::min() % (int64_t(1) << 48));
}

TEST(ProdSN, DateSwitchMovesTwoBytes) {
  TProdSN sn;
  sn.SetIsDate(false);
  EXPECT_EQ(sn.FixSNByteCount(), 4);
  EXPECT_EQ(sn.IncSNByteCount(), 2);
  sn.SetIsDate(true);
  EXPECT_EQ(sn.FixSNByteCount(), 2);
  EXPECT_EQ(sn.IncSNByteCount(), 2);
  sn.SetIsDate(false);
  sn.SetFixSNByteCount(1);
  EXPECT_EQ(sn.IncSNByteCount(), 5);
  sn.SetIsDate(true);  // the fixed part has fewer than two: the incrementing part pays
  EXPECT_EQ(sn.FixSNByteCount(), 1);
  EXPECT_EQ(sn.IncSNByteCount(), 3);
}

TEST(ProdSN, CountsOutOfRangeAreIgnored) {
  TProdSN sn;
  sn.SetFixSNByteCount(5);
  sn.SetFixSNByteCount(-1);
  sn.SetIncSNByteCount(7);
  EXPECT_EQ(sn.FixSNByteCount(), 2);
  EXPECT_EQ(sn.IncSNByteCount(), 2);
}

TEST(ProdSN, CounterSetters) {
  TProdSN sn;
  sn.SetIncInitSN(0x100);
  EXPECT_EQ(sn.IncPrevSN(), 0xFF);
  EXPECT_EQ(sn.IncNextSN(), 0x100);
  sn.SetIncCurrentSN(0x100);
  EXPECT_EQ(sn.IncPrevSN(), 0x100);
  EXPECT_EQ(sn.IncNextSN(), 0x101);
  // Commit moves only a serial that is on and has an incrementing part.
  sn.Commit();
  EXPECT_EQ(sn.IncCurrentSN(), 0x100);
  sn.SetIsSN(true);
  sn.Commit();
  EXPECT_EQ(sn.IncCurrentSN(), 0x101);
  EXPECT_EQ(sn.IncNextSN(), 0x102);
}

TEST(ProdSN, FixedPartText) {
  TProdSN sn;
  sn.SetFixSN(0x41);
  EXPECT_EQ(sn.GetFixSNText(), std::string("\0A", 2));
  sn.SetIsFixAscii(false);
  EXPECT_EQ(sn.GetFixSNText(), "0041");
  sn.SetFixSNByteCount(0);
  EXPECT_EQ(sn.GetFixSNText(), "");
}

TEST(ProdSN, RestoreAppliesTheSavedPropertiesInOrder) {
  RegisterGeneratorClasses();
  const auto r = TextToComponent(
      "object TProdSN\r\n  IsSN = True\r\n  IsDate = True\r\n  FixSNByteCount = 2\r\n  "
      "IncSNByteCount = 2\r\n"
      "  IncInitSN = 16\r\n  IncPrevSN = 15\r\n  IncCurrentSN = 5\r\n  IsFixAscii = "
      "False\r\nend\r\n");
  ASSERT_TRUE(r.object) << r.error;
  const auto& sn = dynamic_cast<const TProdSN&>(*r.object);
  EXPECT_EQ(sn.IncPrevSN(), 5);
  EXPECT_EQ(sn.IncNextSN(), 6);
  EXPECT_EQ(sn.FixSNByteCount(), 2);
  EXPECT_EQ(sn.IncSNByteCount(), 2);  // IsDate came while the counts were 0: ignored, then set
  EXPECT_EQ(sn.FixSN(), 0);           // absent 64-bit zero
}

TEST(ProdSN, CountsThatDoNotAddUpNeverReadPastTheSerial) {
  RegisterGeneratorClasses();
  const auto r = TextToComponent(
      "object TProdSN\r\n  IsSN = True\r\n  IsDate = True\r\n  FixSN = -1\r\nend\r\n");
  ASSERT_TRUE(r.object);
  auto sn = On({2026, 12, 7}, dynamic_cast<const TProdSN&>(*r.object));
  EXPECT_EQ(sn.GetSNText(), "3555-00000000");
  EXPECT_EQ(sn.GetSNByte(6), 0);
}

}  // namespace
}  // namespace korvel
