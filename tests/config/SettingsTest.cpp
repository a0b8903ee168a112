#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "TempDir.h"
#include "config/Settings.h"
#include "device/Staging.h"
#include "platform/CodePage.h"
#include "production/NumberingLedger.h"

namespace korvel {
namespace {

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FillFixedVidPids(table);
    path = dir.path / kIniFileName;
  }
  void WriteFile(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  SettingsLoadReport Load() { return LoadSettings(path, settings, table, &ledger); }
  WriteResult Write(bool blocked = false) {
    const Result<WriteResult> r = WriteSettings(path, settings, &ledger, blocked);
    EXPECT_TRUE(r) << r.status.failure;
    return r ? *r : WriteResult::Blocked;
  }

  test::TempDir dir;
  std::filesystem::path path;
  Settings settings;
  // The numbering travels in the same file.
  NumberingLedger ledger;
  Generators& generators = ledger.Gen();
  VidPidTableType table{};
};

TEST_F(SettingsTest, NoFileGivesTheDefaults) {
  settings.SoftISS = true;
  settings.CPI = 1;
  settings.Sleep = 99;  // not among the defaults a missing file resets
  const auto report = Load();
  EXPECT_FALSE(report.fileFound);
  EXPECT_EQ(settings.CustKey1, 7);
  EXPECT_EQ(settings.CustKey2, 8);
  EXPECT_FALSE(settings.SoftISS);
  EXPECT_EQ(settings.CPI, 0);
  EXPECT_EQ(settings.PowerSaving, 0);
  EXPECT_TRUE(settings.AutoBind);
  EXPECT_EQ(settings.BTY, 1);  // index 6 of a three-item list shows what it stages
  EXPECT_TRUE(settings.VidSet.empty() && settings.PidSet.empty() && settings.PName.empty());
  EXPECT_EQ(settings.Sleep, 99);
  EXPECT_TRUE(generators.RxRFID.IsRandom());
  EXPECT_FALSE(generators.TxSN.IsSN());
}

TEST_F(SettingsTest, NewFileHasTheTxKeysInWriteOrder) {
  settings.VidSet = "1BCF";
  settings.PidSet = "053A";
  EXPECT_EQ(Write(), WriteResult::Written);
  const IniFile ini = IniFile::FromBytes(ReadAll(path));
  std::vector<std::string> keys;
  std::istringstream lines(ReadAll(path));
  for (std::string line; std::getline(lines, line);)
    if (line.find('=') != std::string::npos) keys.push_back(line.substr(0, line.find('=')));
  const std::vector<std::string> expected = {
      "CustKey1",   "CustKey2",    "MouseOnly",   "SoftISS",      "Sleep",    "WakeupPeriod",
      "CPI",        "PowerSaving", "Wakeup",      "BTY",          "VID",      "PID",
      "TX_Erased",  "RX_Erased",   "PName",       "LRMBinding",   "RFPower",  "ResetRF",
      "Delay",      "KBind",       "EnabledMAPX", "Enabled3204L", "RXSNINFO", "TXSNINFO",
      "RXRFIDINFO", "TXRFIDINFO"};
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(ini.ReadInteger("TX", "VID", 0), 0x1BCF);
  EXPECT_NE(ReadAll(path).find("\r\n"), std::string::npos);
}

TEST_F(SettingsTest, VidPidNeedBothAndAreDeletedOtherwise) {
  WriteFile("[TX]\r\nVID=6863\r\nPID=0\r\nKeep=me\r\n");
  Load();
  EXPECT_TRUE(settings.VidSet.empty());
  EXPECT_TRUE(settings.PidSet.empty());
  Write();
  const std::string text = ReadAll(path);
  EXPECT_EQ(text.find("VID="), std::string::npos);
  EXPECT_EQ(text.find("PID="), std::string::npos);
  EXPECT_NE(text.find("Keep=me\r\n"), std::string::npos);
  WriteFile("[TX]\r\nVID=6863\r\nPID=1466\r\n");
  Load();
  EXPECT_EQ(settings.VidSet, "1ACF");
  EXPECT_EQ(settings.PidSet, "05BA");
}

TEST_F(SettingsTest, DeviceSlotsAndABadEntryThatNoLongerStopsTheLoad) {
  WriteFile(
      "[TX]\r\nSleep=100\r\nTXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount "
      "= 2;  "
      "IncSNByteCount = 2;  IncInitSN = 500;  IncPrevSN = 499;  "
      "IncCurrentSN = 700;end;\r\n"
      "[Device]\r\n2=12G4ABCD\r\n3=1BCF05CA\r\n4=0A12\r\n");
  const auto report = Load();
  ASSERT_EQ(report.badDeviceEntries.size(), 1u);
  EXPECT_EQ(report.badDeviceEntries[0].key, "2");
  EXPECT_EQ(report.badDeviceEntries[0].text.English(), "12G4ABCD");
  EXPECT_EQ(table[9].vid, 0);
  EXPECT_EQ(table[10].vid, 0x1BCF);
  EXPECT_EQ(table[10].pid, 0x05CA);
  EXPECT_EQ(table[11].vid, 0x0A12);  // four characters or fewer: the same number twice
  EXPECT_EQ(table[11].pid, 0x0A12);
  EXPECT_EQ(table[0].pid, 0x053A);
  // Everything after the bad entry was still read, the counters above all.
  EXPECT_EQ(settings.Sleep, 100);
  EXPECT_TRUE(generators.TxSN.IsSN());
  EXPECT_EQ(generators.TxSN.IncNextSN(), 701);
}

TEST_F(SettingsTest, GeneratorOfTheWrongClassStartsFresh) {
  WriteFile(
      "[TX]\r\nRXSNINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 1;  IncPrevRFID = 0;  "
      "IncCurrentRFID = 0;end;\r\nTXSNINFO=garbage\r\n");
  const auto report = Load();
  ASSERT_EQ(report.badGenerators.size(), 2u);
  EXPECT_EQ(report.badGenerators[0].key, "RXSNINFO");
  EXPECT_EQ(ComponentToText(generators.RxSN), ComponentToText(TProdSN()));
  EXPECT_EQ(ComponentToText(generators.TxSN), ComponentToText(TProdSN()));
}

TEST_F(SettingsTest, EachWriteAdvancesTheLinkIdStarts) {
  generators.RxRFID.SetIsRandom(false);
  generators.RxRFID.SetIncInitRFID(0x100000);
  Write();
  EXPECT_EQ(generators.RxRFID.IncInitRFID(), 0x100101);  // 0x100000 to 0x100100 hold a 00 byte
  generators.RxRFID.Commit(0x100101);
  Write();
  EXPECT_EQ(generators.RxRFID.IncInitRFID(), 0x100102);
  Write();
  EXPECT_EQ(generators.RxRFID.IncInitRFID(), 0x100102);  // the next ID of a start is the start
  Load();
  EXPECT_EQ(generators.RxRFID.NextRFID(), 0x100102);
}

TEST_F(SettingsTest, BlockedWriteLeavesTheFileAlone) {
  WriteFile("[TX]\r\nSleep=1\r\n");
  settings.Sleep = 2;
  EXPECT_EQ(Write(true), WriteResult::Blocked);
  EXPECT_EQ(ReadAll(path), "[TX]\r\nSleep=1\r\n");
}

TEST_F(SettingsTest, ValuesOutsideTheControlsAreTakenAsTheControlsWould) {
  WriteFile(
      "[TX]\r\nBTY=5\r\nCustKey1=30\r\nCustKey2=abc\r\nSleep=900\r\nWakeupPeriod=1\r\nCPI="
      "7\r\nRFPower=9\r\n");
  settings.CPI = 1;
  Load();
  EXPECT_EQ(settings.BTY, 1);  // 5 is no item: the one that stages the same byte
  EXPECT_EQ(settings.CustKey1, -1);
  EXPECT_EQ(settings.CustKey2, 8);
  EXPECT_EQ(settings.Sleep, 200);
  EXPECT_EQ(settings.WakeupPeriod, 3);
  EXPECT_EQ(settings.CPI, 1);  // 7 checks neither button
  EXPECT_EQ(settings.RFPower, -1);
  Write();
  Load();
  EXPECT_EQ(settings.BTY, 1);
  EXPECT_EQ(IniFile::FromBytes(ReadAll(path)).ReadInteger("TX", "BTY", 0), 1);
  // The level byte is the one an unlisted index always staged.
  EXPECT_EQ(BatteryLevelValue(settings.BTY), BatteryLevelValue(-1));
}

TEST_F(SettingsTest, NumberingContinuesAcrossARestart) {
  generators.TxSN.SetIsSN(true);
  generators.TxSN.SetIncInitSN(0x10);
  generators.TxRFID.SetIsRandom(false);
  generators.TxRFID.SetIncInitRFID(0x200000);
  for (int unit = 0; unit < 10; ++unit) {
    generators.TxSN.Commit();
    generators.TxRFID.Commit(generators.TxRFID.NextRFID());
  }
  const int64_t nextSn = generators.TxSN.IncNextSN();
  const int32_t nextId = generators.TxRFID.NextRFID();
  Write();
  Generators restarted;
  generators = restarted;
  Load();
  EXPECT_EQ(generators.TxSN.IncNextSN(), nextSn);
  EXPECT_EQ(generators.TxRFID.NextRFID(), nextId);
}

TEST_F(SettingsTest, ProductNameIsKeptInTheCodePage) {
  if (SystemCodePage() != 1252) GTEST_SKIP() << "code page " << SystemCodePage();
  settings.PName = "USB 2.4G\xC2\xAE";  // "USB 2.4G®"
  Write();
  const std::string bytes = ReadAll(path);
  EXPECT_NE(bytes.find("\r\nPName=USB 2.4G\xAE\r\n"), std::string::npos);
  EXPECT_EQ(bytes.find('\xC2'), std::string::npos);
  settings.PName.clear();
  Load();
  EXPECT_EQ(settings.PName, "USB 2.4G\xC2\xAE");
  // A Western Windows station's file, 0x80 to 0x9F included.
  WriteFile("[TX]\r\nPName=Souris \x80 \x99 \x9F\r\n");
  Load();
  EXPECT_EQ(settings.PName, "Souris \xE2\x82\xAC \xE2\x84\xA2 \xC5\xB8");
  // An earlier version wrote the window's UTF-8 as it stood: the same name, written back in
  // the code page.
  WriteFile("[TX]\r\nPName=USB 2.4G\xC2\xAE\r\n");
  Load();
  EXPECT_EQ(settings.PName, "USB 2.4G\xC2\xAE");
  EXPECT_TRUE(SettingsNotKept(settings).empty()) << SettingsNotKept(settings);
  Write();
  const std::string rewritten = ReadAll(path);
  EXPECT_NE(rewritten.find("\r\nPName=USB 2.4G\xAE\r\n"), std::string::npos) << rewritten;
  EXPECT_EQ(rewritten.find('\xC2'), std::string::npos);
}

TEST_F(SettingsTest, ANameTheCodePageCannotHoldLeavesTheFilesNameAsItWas) {
  WriteFile("[TX]\r\nSleep=1\r\nPName=Old\xAE\r\n");
  Load();
  settings.Sleep = 2;
  settings.PName = "New \xE4\xB8\xAD";  // "New 中"
  EXPECT_EQ(Write(), WriteResult::Written);
  const std::string bytes = ReadAll(path);
  EXPECT_NE(bytes.find("Sleep=2\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nPName=Old\xAE\r\n"), std::string::npos);
  EXPECT_EQ(bytes.find("New"), std::string::npos);
  const std::string notKept = SettingsNotKept(settings).English();
  EXPECT_EQ(notKept.rfind("The product name was not saved to TX.ini", 0), 0u) << notKept;
  EXPECT_NE(notKept.find("U+4E2D"), std::string::npos) << notKept;
  // With no name in the file there is none to keep: the key stays out.
  std::filesystem::remove(path);
  Load();
  settings.PName = "New \xE4\xB8\xAD";
  Write();
  EXPECT_EQ(ReadAll(path).find("PName="), std::string::npos);
}

TEST_F(SettingsTest, AFileThatCannotBeReadIsNeitherLoadedNorOverwritten) {
  std::filesystem::create_directory(path);  // a folder where the file should be
  settings.Sleep = 77;
  const auto report = Load();
  EXPECT_FALSE(report.readError.empty());
  EXPECT_EQ(settings.Sleep, 77);
  EXPECT_FALSE(WriteSettings(path, settings, &ledger, false));
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

}  // namespace
}  // namespace korvel
