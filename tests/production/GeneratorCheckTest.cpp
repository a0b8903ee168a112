// Generators that would hand out one serial to every unit, or numbers that do not fit, are
// refused with the key and the value that is wrong; the file keeps what it held.
#include <gtest/gtest.h>

#include "config/IniFile.h"
#include "production/NumberingLedger.h"

namespace korvel {
namespace {

SettingsLoadReport LoadInto(NumberingLedger& ledger, const std::string& ini) {
  SettingsLoadReport report;
  const IniFile file = IniFile::FromBytes(ini);
  ledger.Load(&file, report);
  return report;
}

std::string Sn(const std::string& body, bool on = true) {
  return std::string("object TProdSN;  IsSN = ") + (on ? "True" : "False") + ";  IsDate = True;" +
         body + "  IsFixAscii = True;end;";
}

TEST(GeneratorCheck, ByteCountsOutOfRangeAreRefusedNamingKeyAndValue) {
  NumberingLedger ledger;
  const auto report = LoadInto(
      ledger, "[TX]\r\nRXSNINFO=" +
                  Sn("  FixSNByteCount = 2147483647;  IncSNByteCount = -2147483648;") + "\r\n");
  ASSERT_EQ(report.badGenerators.size(), 1u);
  EXPECT_EQ(report.badGenerators[0].key, "RXSNINFO");
  EXPECT_EQ(report.badGenerators[0].text.English(), "FixSNByteCount = 2147483647 is outside 0..4");
  EXPECT_EQ(ledger.BlockingProblem().English(),
            "RXSNINFO: FixSNByteCount = 2147483647 is outside 0..4");

  // Counts that do not add up, even though each is in range.
  NumberingLedger other;
  const auto uneven = LoadInto(
      other, "[TX]\r\nTXSNINFO=" + Sn("  FixSNByteCount = 3;  IncSNByteCount = 3;") + "\r\n");
  ASSERT_EQ(uneven.badGenerators.size(), 1u);
  EXPECT_NE(uneven.badGenerators[0].text.English().find("do not add up to the 4 bytes"),
            std::string::npos);
}

TEST(GeneratorCheck, CountersThatDoNotFitTheirBytesAreRefused) {
  NumberingLedger ledger;
  LoadInto(ledger, "[TX]\r\nTXSNINFO=" +
                       Sn("  FixSNByteCount = 2;  IncSNByteCount = 2;  IncCurrentSN = 74565;") +
                       "\r\nRXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 1;  "
                       "IncPrevRFID = 0;  IncCurrentRFID = 16777216;end;\r\n");
  EXPECT_EQ(ledger.Problem(GeneratorSlot::TxSN).English(),
            "IncCurrentSN = 74565 does not fit in 2 bytes (0..FFFF hex)");
  EXPECT_NE(ledger.Problem(GeneratorSlot::RxRFID).English().find("IncCurrentRFID = 16777216"),
            std::string::npos);
  // The RX serial is off and the TX link IDs are random: nothing of theirs blocks.
  EXPECT_TRUE(ledger.Problem(GeneratorSlot::RxSN).empty());
  EXPECT_EQ(ledger.BlockingProblem().English().rfind("TXSNINFO: ", 0), 0u);
}

TEST(GeneratorCheck, OnlyGeneratorsTheUnitUsesBlockAndAnEngineersFixClearsIt) {
  NumberingLedger ledger;
  LoadInto(ledger,
           "[TX]\r\nRXSNINFO=" + Sn("  FixSNByteCount = 9;  IncSNByteCount = 2;", false) + "\r\n");
  // The serial is off: reported, but no unit uses it.
  EXPECT_FALSE(ledger.Problem(GeneratorSlot::RxSN).empty());
  EXPECT_EQ(ledger.BlockingProblem().English(), "");
  ledger.Gen().RxSN.SetIsSN(true);
  EXPECT_NE(ledger.BlockingProblem().English(), "");
  ledger.Gen().RxSN.SetFixSNByteCount(2);
  ledger.Edited(GeneratorSlot::RxSN);
  EXPECT_EQ(ledger.BlockingProblem().English(), "");
}

TEST(GeneratorCheck, AnUnreadableGeneratorBlocksAndIsWrittenBackAsItWas) {
  NumberingLedger ledger;
  const std::string broken = "object TProdSN;  IsSN = Maybe;end;";
  LoadInto(ledger, "[TX]\r\nTXSNINFO=" + broken + "\r\n");
  EXPECT_EQ(ledger.BlockingProblem().English().rfind("TXSNINFO: ", 0), 0u);
  IniFile file = IniFile::FromBytes("[TX]\r\nTXSNINFO=" + broken + "\r\n");
  EXPECT_EQ(ledger.CheckBeforeStore(file).English(), "");
  ledger.Store(file);
  EXPECT_EQ(file.ReadString("TX", "TXSNINFO", ""), broken);
}

TEST(GeneratorCheck, NumberingChangedByAnotherProgramIsNotWrittenOver) {
  NumberingLedger ledger;
  const std::string ini =
      "[TX]\r\nRXSNINFO=" + Sn("  FixSNByteCount = 2;  IncSNByteCount = 2;") + "\r\n";
  LoadInto(ledger, ini);
  IniFile same = IniFile::FromBytes(ini);
  EXPECT_EQ(ledger.CheckBeforeStore(same).English(), "");
  IniFile changed = IniFile::FromBytes(
      "[TX]\r\nRXSNINFO=" +
      Sn("  FixSNByteCount = 2;  IncSNByteCount = 2;  IncInitSN = 9;  IncCurrentSN = 9;") + "\r\n");
  EXPECT_NE(
      ledger.CheckBeforeStore(changed).English().find("RXSNINFO in the settings file was changed"),
      std::string::npos);
  // What this ledger saved is what it expects from then on.
  ledger.Store(same);
  ledger.Saved();
  EXPECT_EQ(ledger.CheckBeforeStore(same).English(), "");
}

TEST(GeneratorCheck, ANewStartOutranksTheSavedCurrentValueAfterARestart) {
  NumberingLedger ledger;
  TProdSN& sn = ledger.Gen().TxSN;
  sn.SetIsSN(true);
  sn.SetIncCurrentSN(0x0002);  // three units passed
  ledger.NewSerialStart(GeneratorSlot::TxSN, 0x0100);
  ledger.Gen().TxRFID.SetIsRandom(false);
  ledger.Gen().TxRFID.SetIncCurrentRFID(0x101010);
  ledger.NewLinkIdStart(GeneratorSlot::TxRFID, 0x303030);
  IniFile file;
  ledger.Store(file);

  NumberingLedger restarted;
  SettingsLoadReport report;
  restarted.Load(&file, report);
  EXPECT_TRUE(report.badGenerators.empty());
  EXPECT_EQ(restarted.Gen().TxSN.IncNextSN(), 0x0100);
  EXPECT_EQ(restarted.Gen().TxRFID.NextRFID(), 0x303030);
  // A start of 0 survives too (the saved current value is then -1).
  ledger.NewSerialStart(GeneratorSlot::TxSN, 0);
  ledger.Store(file);
  restarted.Load(&file, report);
  EXPECT_EQ(restarted.Gen().TxSN.IncNextSN(), 0);
  EXPECT_EQ(restarted.Problem(GeneratorSlot::TxSN).English(), "");
}

// A fixed part wider than its bytes (the date took two of them) gives its low bytes, as the
// files of earlier versions were read: it cannot repeat a number, so it numbers units.
TEST(GeneratorCheck, TheMessageNamesTheValueTheFileHoldsAndAWideFixedPartGivesItsLowBytes) {
  NumberingLedger ledger;
  LoadInto(ledger,
           "[TX]\r\nRXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = "
           "-1;end;\r\nTXSNINFO=" +
               Sn("  FixSNByteCount = 2;  FixSN = 70000;  IncSNByteCount = 2;") + "\r\n");
  // The restore left IncPrevRFID at -2; the engineer wrote IncInitRFID = -1.
  EXPECT_EQ(ledger.Problem(GeneratorSlot::RxRFID).English().rfind("IncInitRFID = -1 ", 0), 0u)
      << ledger.Problem(GeneratorSlot::RxRFID);
  EXPECT_EQ(ledger.Problem(GeneratorSlot::TxSN).English(), "");
  EXPECT_EQ(ledger.BlockingProblem().English().rfind("RXRFIDINFO", 0), 0u);
  ledger.SetDateSource([] { return LocalDate{2026, 12, 7}; });
  const UnitNumbers unit = ledger.Draw();
  EXPECT_EQ(unit.txSerial[2], 0x11);  // 70000 is 0x11170: 0x1170 is used
  EXPECT_EQ(unit.txSerial[3], 0x70);
  EXPECT_EQ(ledger.Gen().TxSN.GetFixSNText(), "\x11p");  // as characters: the two bytes
}

}  // namespace
}  // namespace korvel
