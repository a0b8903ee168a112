#include <gtest/gtest.h>

#include "config/CompStream.h"
#include "production/NumberingLedger.h"

namespace korvel {
namespace {

class CompStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterGeneratorClasses(); }
};

TEST_F(CompStreamTest, TextFormLeavesOutSixtyFourBitZerosOnly) {
  TProdRFID id;
  id.SetIsRandom(false);
  id.SetIncInitRFID(0x200000);
  EXPECT_EQ(ComponentToText(id),
            "object TProdRFID\r\n  IsRandom = False\r\n  IncInitRFID = 2097152\r\n  IncPrevRFID = "
            "2097151\r\n"
            "  IncCurrentRFID = 0\r\nend\r\n");
  TProdSN sn;
  EXPECT_EQ(ComponentToText(sn),
            "object TProdSN\r\n  IsSN = False\r\n  IsDate = True\r\n  FixSNByteCount = 2\r\n  "
            "IncSNByteCount = 2\r\n"
            "  IncPrevSN = -1\r\n  IsFixAscii = True\r\nend\r\n");
  EXPECT_EQ(GeneratorToIniValue(sn).back(), ';');
  EXPECT_EQ(GeneratorToIniValue(sn).find('\r'), std::string::npos);
}

TEST_F(CompStreamTest, RoundTripKeepsEveryProperty) {
  TProdSN sn;
  sn.SetIsSN(true);
  sn.SetIsDate(false);
  sn.SetFixSNByteCount(3);
  sn.SetFixSN(0x414243);
  sn.SetIncInitSN(77);
  sn.SetIncCurrentSN(0x1234);
  sn.SetIsFixAscii(false);
  const auto r = TextToComponent(ComponentToText(sn));
  ASSERT_TRUE(r.object) << r.error;
  const auto& back = dynamic_cast<const TProdSN&>(*r.object);
  EXPECT_EQ(ComponentToText(back), ComponentToText(sn));
  EXPECT_EQ(back.IncNextSN(), 0x1235);
}

TEST_F(CompStreamTest, AcceptsLfLinesNamedObjectsAndAnyCase) {
  const auto r =
      TextToComponent("OBJECT Gen1: tprodrfid\n  israndom = false\n  IncPrevRFID = 5\nEND");
  ASSERT_TRUE(r.object) << r.error;
  EXPECT_EQ(dynamic_cast<const TProdRFID&>(*r.object).NextRFID(), 0x000101);
}

TEST_F(CompStreamTest, MalformedTextsGiveAnErrorAndNoObject) {
  const char* bad[] = {
      "",
      "   \r\n",
      "TProdSN\r\nend\r\n",
      "object\r\nend\r\n",
      "object TNoSuchClass\r\nend\r\n",
      "object TProdSN\r\n  IsSN = True\r\n",
      "object TProdSN\r\n  NoSuchProperty = 1\r\nend\r\n",
      "object TProdSN\r\n  IsSN = Yes\r\nend\r\n",
      "object TProdSN\r\n  FixSN = 12x\r\nend\r\n",
      "object TProdSN\r\n  FixSN = 99999999999999999999\r\nend\r\n",
      "object TProdSN\r\n  FixSNByteCount = 4294967296\r\nend\r\n",
      "object TProdSN\r\n  IsSN True\r\nend\r\n",
      "object TProdSN\r\n  object Inner: TProdRFID\r\n  end\r\nend\r\n",
      "object TProdSN\r\n  FixSN = \r\nend\r\n",
  };
  for (const char* text : bad) {
    const auto r = TextToComponent(text);
    EXPECT_FALSE(r.object) << text;
    EXPECT_FALSE(r.error.empty()) << text;
  }
}

TEST_F(CompStreamTest, ExtremeValuesSurvive) {
  const auto r = TextToComponent(
      "object TProdSN\r\n  FixSN = -9223372036854775808\r\n  IncInitSN = "
      "9223372036854775807\r\nend\r\n");
  ASSERT_TRUE(r.object) << r.error;
  const auto& sn = dynamic_cast<const TProdSN&>(*r.object);
  EXPECT_EQ(sn.FixSN(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(sn.IncInitSN(), std::numeric_limits<int64_t>::max());
}

}  // namespace
}  // namespace korvel
