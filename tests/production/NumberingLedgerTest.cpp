// Drawing a unit's numbers and committing them: the one place Go and 'korvel-rf next' share.
#include <gtest/gtest.h>

#include "production/NumberingLedger.h"

namespace korvel {
namespace {

class NumberingLedgerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ledger.SetDateSource([] { return LocalDate{2026, 12, 7}; });
  }
  void CustomIds(int32_t rx, int32_t tx) {
    ledger.Gen().RxRFID.SetIsRandom(false);
    ledger.Gen().RxRFID.SetIncInitRFID(rx);
    ledger.Gen().TxRFID.SetIsRandom(false);
    ledger.Gen().TxRFID.SetIncInitRFID(tx);
  }
  NumberingLedger ledger;
};

TEST_F(NumberingLedgerTest, DrawingChangesNothingAndCommittingMovesEveryGeneratorOn) {
  CustomIds(0x323334, 0x424344);
  TProdSN& tx = ledger.Gen().TxSN;
  tx.SetIsSN(true);
  tx.SetFixSN(0x4B37);
  tx.SetIncInitSN(0x0100);
  const UnitNumbers first = ledger.Draw();
  const UnitNumbers again = ledger.Draw();
  EXPECT_EQ(first.txSerialText, again.txSerialText);
  EXPECT_EQ(first.txSerialText, "3555-4B37-0100");
  EXPECT_EQ(first.txSerial, (std::array<uint8_t, 6>{0x35, 0x55, 0x4B, 0x37, 0x01, 0x00}));
  EXPECT_TRUE(first.txSerialOn);
  EXPECT_FALSE(first.rxSerialOn);
  EXPECT_EQ(first.rxSerialText, "");
  EXPECT_EQ(first.rxId, 0x323334u);
  EXPECT_EQ(first.txId, 0x424344u);

  ledger.Commit(first);
  const UnitNumbers second = ledger.Draw();
  EXPECT_EQ(second.txSerialText, "3555-4B37-0101");
  EXPECT_EQ(second.rxId, 0x323335u);
  EXPECT_EQ(second.txId, 0x424345u);
  EXPECT_EQ(ledger.Gen().RxSN.IncCurrentSN(), 0);  // a serial that is off does not move
}

TEST_F(NumberingLedgerTest, AClashGivesTheTxSideTheNextAcceptableId) {
  CustomIds(0x123454, 0x123454);  // 0x123455 holds the reserved 0x55
  const UnitNumbers unit = ledger.Draw();
  EXPECT_EQ(unit.rxId, 0x123454u);
  EXPECT_EQ(unit.txId, 0x123456u);
  ledger.Commit(unit);
  EXPECT_EQ(ledger.Gen().TxRFID.IncCurrentRFID(), 0x123456);
  // The mend follows the generators' own rule: the next acceptable ID is 0x110101, and its
  // high byte 0x11 is given as 0x12, as the generators give it.
  CustomIds(0x10FEFE, 0x10FEFE);
  EXPECT_EQ(ledger.Draw().txId, 0x120101u);
}

TEST_F(NumberingLedgerTest, RandomIdsAreNotCommitted) {
  const UnitNumbers unit = ledger.Draw();
  // Acceptable, or the substitution's 0x29 -> 0x2A (written as 0xAA, as the radio takes it).
  EXPECT_TRUE(IsAcceptableLinkId(unit.rxId) || (unit.rxId >> 16) == 0x2A) << unit.rxId;
  EXPECT_NE(unit.rxId, unit.txId);
  ledger.Commit(unit);
  EXPECT_EQ(ledger.Gen().RxRFID.IncCurrentRFID(), 0);
  EXPECT_EQ(ledger.Gen().TxRFID.IncCurrentRFID(), 0);
}

TEST_F(NumberingLedgerTest, LoadingKeepsTheDateAndReportsWhatItCouldNotBuild) {
  IniFile ini = IniFile::FromBytes(
      "[TX]\r\nTXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  "
      "IncSNByteCount = 2;end;\r\nRXRFIDINFO=object TProdSN;  IsSN = True;end;\r\n");
  SettingsLoadReport report;
  ledger.Load(&ini, report);
  EXPECT_EQ(ledger.Draw().txSerialText.substr(0, 4), "3555");  // 2026, day 341
  ASSERT_EQ(report.badGenerators.size(), 1u);
  EXPECT_EQ(report.badGenerators[0].key, "RXRFIDINFO");
  EXPECT_TRUE(ledger.Gen().RxRFID.IsRandom());
  // No file: every generator from its defaults.
  ledger.Load(nullptr, report);
  EXPECT_FALSE(ledger.Gen().TxSN.IsSN());
}

// A counter close to coming round is told while there is time to set a new range; one the
// next unit does not use (a serial that is off, random IDs) never is.
TEST_F(NumberingLedgerTest, ACounterAboutToComeRoundIsToldWithTheNumbersLeft) {
  EXPECT_TRUE(ledger.WrapWarning().empty());
  EXPECT_FALSE(ledger.NumbersLeft(GeneratorSlot::RxSN));  // off
  TProdSN& tx = ledger.Gen().TxSN;
  tx.SetIsSN(true);
  tx.SetIsDate(false);
  tx.SetFixSNByteCount(5);
  tx.SetIncSNByteCount(1);
  tx.SetIncInitSN(0x9C);  // 0x9C..0xFF: 100 numbers
  EXPECT_EQ(ledger.NumbersLeft(GeneratorSlot::TxSN), 100);
  EXPECT_TRUE(ledger.WrapWarning().empty());
  ledger.Commit(ledger.Draw());
  EXPECT_EQ(ledger.NumbersLeft(GeneratorSlot::TxSN), 99);
  EXPECT_EQ(ledger.WrapWarning().English(),
            "TX serial: 99 numbers left before the counter comes round to 0");
  uint32_t top = kLinkIdMask;
  while (!IsAcceptableLinkId(top)) --top;
  CustomIds(int32_t(top - 40), 0x100000);
  // Reserved IDs on the way up are not counted.
  int64_t acceptable = 0;
  for (uint32_t id = top - 40; id <= top; ++id) acceptable += IsAcceptableLinkId(id);
  ASSERT_GT(acceptable, 0);
  ASSERT_LT(acceptable, 100);
  EXPECT_EQ(ledger.NumbersLeft(GeneratorSlot::RxRFID), acceptable);
  EXPECT_EQ(ledger.WrapWarning().English(),
            "TX serial: 99 numbers left before the counter comes round to 0\nRX link ID: " +
                std::to_string(acceptable) +
                " IDs left before the counter comes round past FFFFFF");
}

}  // namespace
}  // namespace korvel
