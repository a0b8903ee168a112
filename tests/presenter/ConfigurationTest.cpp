// The settings controls, the staging the run builds from them, and the engineering page's
// operations, on the emulator.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "EmulatedRx.h"
#include "StationFixture.h"
#include "device/Staging.h"
#include "production/UnitProgrammer.h"
#include "ui/HexField.h"

namespace korvel {
namespace {

class ConfigurationTest : public StationTest {
 protected:
  void SetUp() override {
    rx->SetTx(tx);
    tx->SetPowered(true, host.TickCount());
    platform.Attach(rx);
    s = Make();
    s->Presenter().FormCreate({});
    s->Presenter().FormActivate();
    host.RunFor(5500);  // the RX is found and opened
    ASSERT_TRUE(s->Link().HaveRx());
  }
  // As the window reports an operator's change: through the handler, into the settings.
  void Change(const std::string& name, const std::function<void(ControlState&)>& edit) {
    ControlState state = s->Presenter().View()[name];
    edit(state);
    s->Presenter().ControlChanged(name, state);
  }
  void Set(const std::string& name, const std::string& text) {
    Change(name, [&](ControlState& c) { c.text = text; });
  }
  void Check(const std::string& name, bool on = true) {
    ControlState c = s->Presenter().View()[name];
    c.checked = on;
    s->Presenter().ControlChanged(name, c);
  }
  void Select(const std::string& name, int index) {
    ControlState c = s->Presenter().View()[name];
    c.itemIndex = index;
    s->Presenter().ControlChanged(name, c);
  }
  StagingTables& Staging() { return s->Programmer().Staging(); }
  static int StagedCount(const StagingTables& t) {
    int n = 0;
    for (int32_t v : t.TxEepromImage) n += v != kNotStaged;
    for (int32_t v : t.RxRegisterImage) n += v != kNotStaged;
    return n;
  }
  // What the run stages of the mouse's options, from the controls as they stand.
  StagingTables StagedFromControls() {
    StagingTables t;
    StageTxSettings(t, s->Model());
    return t;
  }
  const std::string& Text(const std::string& name) { return s->Presenter().View()[name].text; }

  std::shared_ptr<EmulatedRx> rx = std::make_shared<EmulatedRx>(host);
  std::shared_ptr<EmulatedTx> tx = std::make_shared<EmulatedTx>();
  std::unique_ptr<Station> s;
};

TEST_F(ConfigurationTest, EachTxOptionReachesTheStagingOfTheRunAndNothingElse) {
  const struct {
    const char* button;
    uint8_t address, value;
  } table[] = {{"rbRF_DR_15", 0x12, 0x33}, {"rbRF_DR_1A", 0x12, 0xCC}, {"rbRF_DR_25", 0x14, 0x55},
               {"rbRF_DR_2A", 0x14, 0xAA}, {"rbRF_DR_45", 0x16, 0x3C}, {"rbRF_DR_4A", 0x16, 0xC5},
               {"rbRF_DR_4F", 0x16, 0xCA}, {"rbRF_DR_5A", 0x18, 0x5A}, {"rbRF_DR_55", 0x18, 0x55}};
  const uint64_t sent = rx->ReportsReceived();
  for (const auto& row : table) {
    Check(row.button);
    // A click outside a run stages nothing and sends nothing.
    EXPECT_EQ(StagedCount(Staging()), 0) << row.button;
    const StagingTables t = StagedFromControls();
    EXPECT_EQ(t.TxEepromImage[row.address], row.value) << row.button;
    EXPECT_EQ(t.TxEepromImage[row.address + 1], row.value ^ 0xFF) << row.button;
  }
  EXPECT_EQ(rx->ReportsReceived(), sent);
}

TEST_F(ConfigurationTest, BatteryLevelKeepsTheRxsFiveLowBits) {
  Select("cbRF_Set_BTY_Low_Level", 0);
  EXPECT_EQ(StagedCount(Staging()), 0);
  const struct {
    int index;
    uint8_t level;
  } cases[] = {{0, 0x40}, {1, 0x20}, {2, 0x00}, {-1, 0x20}};
  for (const auto& c : cases) {
    StagingTables t;
    StageBatteryLevel(t, c.index, 0x9A65);  // high byte 0x9A: low five bits 0x1A
    EXPECT_EQ(t.TxEepromImage[0x1A], c.level) << c.index;
    EXPECT_EQ(t.TxEepromImage[0x1B], c.level ^ 0xFF) << c.index;
    const uint8_t b = c.level | 0x1A;
    EXPECT_EQ(t.RxRegisterImage[0x2F], (b << 8) | (b ^ 0xFF)) << c.index;
  }
  // A register that could not be read keeps no bits of its own: all five are set.
  StagingTables t;
  StageBatteryLevel(t, 2, -1);
  EXPECT_EQ(t.RxRegisterImage[0x2F], 0x1FE0);
}

TEST_F(ConfigurationTest, RxKindPeriodsLrmSensorAndCpi) {
  Check("rbKbdMse");
  EXPECT_TRUE(s->Presenter().View()["cbKeyboardbind"].visible);
  EXPECT_FALSE(s->Presenter().View()["rbMouseOnly"].checked);  // one button of the group
  StagingTables t;
  StageRxKind(t, s->Model().MouseOnly);
  EXPECT_EQ(t.RxRegisterImage[0x38], 0xFFFF);
  Check("rbMouseOnly");
  EXPECT_FALSE(s->Presenter().View()["cbKeyboardbind"].visible);
  StageRxKind(t, s->Model().MouseOnly);
  EXPECT_EQ(t.RxRegisterImage[0x38], 0x5AA5);

  ControlState sleep = s->Presenter().View()["suiSpinEdit1"];
  sleep.value = 56;
  s->Presenter().ControlChanged("suiSpinEdit1", sleep);
  EXPECT_EQ(Text("Label3"), "1828.36ms");
  EXPECT_EQ(Text("Label4"), "6.4ms");
  StagePeriods(t, s->Model().Sleep, s->Model().WakeupPeriod);
  EXPECT_EQ(t.RxRegisterImage[0x39], 0x38C7);
  EXPECT_EQ(t.RxRegisterImage[0x3A], 0x0FF0);

  Check("LRMBinding", true);
  EXPECT_EQ(StagedFromControls().TxEepromImage[0x1C], 0x24);
  EXPECT_EQ(StagedFromControls().TxEepromImage[0x1D], 0xDB);
  Check("LRMBinding", false);
  EXPECT_EQ(StagedFromControls().TxEepromImage[0x1C], 0x20);
  EXPECT_EQ(StagedFromControls().TxEepromImage[0x1D], 0xDF);

  Check("Call3204L", true);
  EXPECT_EQ(StagedFromControls().TxEepromImage[0x74], 0xB2);
  EXPECT_EQ(StagedFromControls().TxEepromImage[0x75], 0x4D);
  Check("Call3204L", false);
  EXPECT_EQ(StagedFromControls().TxEepromImage[0x74], 0xFF);

  // Outside a run the CPI buttons send nothing; a run sends the choice at once and the
  // page's CPI field shows it.
  const uint64_t cpiBefore = rx->CommandCount(0x2F);
  Check("rbRF_CPI_H");
  EXPECT_EQ(rx->CommandCount(0x2F), cpiBefore);
  s->Presenter().Click("btnSetTX");
  EXPECT_EQ(Text("lblResult"), "PASS") << Text("lblReason");
  EXPECT_EQ(rx->CommandCount(0x2F), cpiBefore + 1);
  EXPECT_EQ(s->Presenter().View()["edtC_RF_SETUP_CPI"].value, 1);
  EXPECT_EQ(tx->CpiStep(), 1);
}

TEST_F(ConfigurationTest, CustomKeysStageTheirCodesAndAreAnnouncedOnlyByARun) {
  Select("cbCustKey1", 0);
  EXPECT_EQ(StagedCount(Staging()), 0);
  EXPECT_EQ(rx->CustomKeyApplies(), 0u);

  StagingTables t;
  EXPECT_TRUE(StageCustomKey(t, 1, 7));  // WWW HOME
  EXPECT_EQ(t.RxRegisterImage[3], 0x23DC);
  EXPECT_EQ(t.RxRegisterImage[4], 0x02FD);
  EXPECT_TRUE(StageCustomKey(t, 2, 0));  // [DISABLE]
  EXPECT_EQ(t.RxRegisterImage[5], 0x00FF);
  EXPECT_EQ(t.RxRegisterImage[6], 0x00FF);

  // An index beyond the list stages nothing for its key; the other key still works, and
  // the run announces only the key it staged.
  StagingTables u;
  EXPECT_FALSE(StageCustomKey(u, 1, 30));
  EXPECT_TRUE(StageCustomKey(u, 2, 8));  // MAIL 0x18A
  EXPECT_EQ(u.RxRegisterImage[3], kNotStaged);
  EXPECT_EQ(u.RxRegisterImage[5], 0x8A75);
  EXPECT_EQ(u.RxRegisterImage[6], 0x01FE);
  Select("cbCustKey1", 30);
  Select("cbCustKey2", 8);
  s->Presenter().Click("btnSetTX");
  EXPECT_EQ(Text("lblResult"), "PASS") << Text("lblReason");
  EXPECT_EQ(rx->CustomKeyApplies(), 1u);
  EXPECT_EQ(rx->Registers()[5], 0x8A75);
}

TEST_F(ConfigurationTest, EepromTabReadsRegistersAndStagesWrites) {
  rx->Registers()[0] = 0x0AF5;
  ASSERT_TRUE(s->Presenter().Click("btnEEPROM_R_00"));
  EXPECT_EQ(Text("edtEEPROM_00"), "0A");
  Set("edtEEPROM_01", "5");
  const uint64_t sent = rx->ReportsReceived();
  s->Presenter().Click("btnEEPROM_W_01");
  EXPECT_EQ(s->Programmer().Staging().RxRegisterImage[1], 0x05FA);
  EXPECT_EQ(rx->ReportsReceived(), sent);  // W sends nothing

  Set("edtVID_SET", "1BCF");
  s->Presenter().Click("btnEEPROM_W_VID");
  EXPECT_EQ(s->Programmer().Staging().RxRegisterImage[15], 0x1BE4);
  EXPECT_EQ(s->Programmer().Staging().RxRegisterImage[16], 0xCF30);
  rx->Registers()[17] = 0x05FA;
  rx->Registers()[18] = 0x3AC5;
  s->Presenter().Click("btnEEPROM_R_PID");
  EXPECT_EQ(Text("edtPID_SET"), "053A");

  Set("edtEEPROM_20", "Mouse");
  s->Presenter().Click("btnEEPROM_W_20");
  EXPECT_EQ(Text("edtEEPROM_19"), "C");
  EXPECT_EQ(s->Programmer().Staging().RxRegisterImage[19], 0x0CF3);
  EXPECT_EQ(s->Programmer().Staging().RxRegisterImage[20], 0x4D6F);  // "Mo"
}

TEST_F(ConfigurationTest, ANameTheCodePageCannotHoldIsNeitherStagedNorSaved) {
  Set("edtEEPROM_19", "8");
  Set("edtEEPROM_20", "USB \xE4\xB8\xAD");  // "USB 中"
  const uint64_t sent = rx->ReportsReceived();
  s->Presenter().Click("btnEEPROM_W_20");
  EXPECT_EQ(StagedCount(Staging()), 0);
  EXPECT_EQ(Text("edtEEPROM_19"), "8");
  EXPECT_EQ(rx->ReportsReceived(), sent);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(
      view.messages[0].rfind("dlgError:product name: \"USB \xE4\xB8\xAD\" has a character ", 0), 0u)
      << view.messages[0];
  // Write Setting saves the rest and says the name was not saved.
  ControlState sleep = s->Presenter().View()["suiSpinEdit1"];
  sleep.value = 99;
  s->Presenter().ControlChanged("suiSpinEdit1", sleep);
  s->Presenter().btnWriteSettingClick();
  ASSERT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(view.messages[1].rfind("dlgError:The product name was not saved to TX.ini", 0), 0u)
      << view.messages[1];
  std::ifstream in(dir.path / kIniFileName, std::ios::binary);
  const std::string ini((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(ini.find("Sleep=99\r\n"), std::string::npos);
  EXPECT_EQ(ini.find("PName="), std::string::npos);
}

TEST_F(ConfigurationTest, RfTabWritesAndReadsTheMouseThroughTheLink) {
  Check("rbC_RF_ENTER_ACCESS_W_LED");
  host.RunFor(20);
  EXPECT_EQ(tx->AccessMode(), EmulatedTx::Access::WithLed);
  Set("edtRF_EEPROMAddr", "30");
  Set("edtRF_EEPROMData", "5A");
  s->Presenter().Click("btnC_RF_Wrt_EEPROM");
  EXPECT_EQ(tx->EepromBytes()[0x30], 0x5A);
  Set("edtRF_EEPROMData", "00");
  s->Presenter().Click("btnC_RF_Rd_EEPROM");
  EXPECT_EQ(Text("edtRF_EEPROMData"), "5A");

  s->Presenter().Click("btnRF_DR_3C");
  EXPECT_EQ(Text("edtRF_DirectRegAddr"), "FF");
  EXPECT_EQ(Text("edtRF_DirectRegData"), "3C");
  host.RunFor(200);
  EXPECT_EQ(tx->PorCount(), 1);

  // A mouse that does not answer: eight F digits.
  tx->SetPowered(false, host.TickCount());
  s->Presenter().Click("btnC_RF_Rd_EEPROM");
  EXPECT_EQ(Text("edtRF_EEPROMData"), "FFFFFFFF");
  EXPECT_TRUE(s->Link().CommandFailed());
  // The page says what failed instead of leaving the F digits to speak for themselves.
  EXPECT_EQ(Text("lblEngResult"), "TX EEPROM 0x30 read: no valid answer in 30 tries");
  EXPECT_EQ(s->Presenter().View()["lblEngResult"].color, "red");
}

TEST_F(ConfigurationTest, AFailedWriteSaysSoAndTheNextSuccessClearsIt) {
  tx->SetPowered(false, host.TickCount());
  Set("edtRF_EEPROMAddr", "30");
  Set("edtRF_EEPROMData", "5A");
  s->Presenter().Click("btnC_RF_Wrt_EEPROM");
  EXPECT_EQ(Text("lblEngResult").rfind("TX EEPROM 0x30 ", 0), 0u) << Text("lblEngResult");
  EXPECT_EQ(s->Presenter().View()["lblEngResult"].color, "red");
  tx->SetPowered(true, host.TickCount());
  host.RunFor(100);
  s->Presenter().Click("btnC_RF_Wrt_EEPROM");
  EXPECT_EQ(Text("lblEngResult"), "");
  EXPECT_EQ(tx->EepromBytes()[0x30], 0x5A);
}

TEST_F(ConfigurationTest, AStringWhoseLengthCannotBeReadIsNotMadeUp) {
  rx->InjectFault("answers-never-valid");
  const uint64_t reads = rx->CommandCount(0x03);
  s->Presenter().Click("btnEEPROM_R_20");
  EXPECT_EQ(Text("edtEEPROM_19"), "FFFFFF");  // the R button's failure mark
  EXPECT_EQ(Text("edtEEPROM_20"), "");
  EXPECT_EQ(rx->CommandCount(0x03) - reads, 30u);  // register 19 only, not 23 more
  EXPECT_EQ(Text("lblEngResult"), "RX register 19 read: no valid answer in 30 tries");
  // Nor is a VID from two failed reads.
  Set("edtVID_SET", "1BCF");
  s->Presenter().Click("btnEEPROM_R_VID");
  EXPECT_EQ(Text("edtVID_SET"), "1BCF");
  rx->ClearFaults();
  s->Presenter().Click("btnEEPROM_R_20");
  EXPECT_EQ(Text("edtEEPROM_20"), "2.4G Mouse");
  EXPECT_EQ(Text("lblEngResult"), "");
}

TEST_F(ConfigurationTest, AFieldThatIsNotHexStopsBeforeAnythingIsSent) {
  const uint64_t sent = rx->ReportsReceived();
  Set("edtRF_EEPROMAddr", "3g");
  s->Presenter().Click("btnC_RF_Wrt_EEPROM");
  Set("edtDirectAddr", "zz");
  s->Presenter().Click("btnC_Rd_Direct_Reg");
  Set("edtVID_SET", "12345");
  s->Presenter().Click("btnEEPROM_W_VID");
  EXPECT_EQ(rx->ReportsReceived(), sent);
  ASSERT_EQ(view.messages.size(), 3u);
  EXPECT_EQ(view.messages[0], "dlgError:'3g' is not a valid hexadecimal value (edtRF_EEPROMAddr).");
  EXPECT_EQ(s->Programmer().Staging().RxRegisterImage[15], kNotStaged);
}

TEST_F(ConfigurationTest, RxPageReadsAndSpecialQueries) {
  rx->DirectRegisters()[0x10] = 0x7E;
  Set("edtDirectAddr", "10");
  s->Presenter().Click("btnC_Rd_Direct_Reg");
  EXPECT_EQ(Text("edtDirectData"), "7E");
  s->Presenter().Click("btnSpecialCmd1");
  EXPECT_EQ(Text("edtSC01_00"), "28");
  EXPECT_EQ(Text("edtSC01_02"), "00");
  EXPECT_EQ(Text("edtSC01_06"), "10");
  // No RX: nothing is sent, the EEPROM read still empties its field.
  rx->Unplug();
  host.RunFor(5500);
  Set("edtEEPROM_00", "12");
  s->Presenter().Click("btnEEPROM_R_00");
  EXPECT_EQ(Text("edtEEPROM_00"), "");
  const uint64_t applies = rx->CustomKeyApplies();
  s->Presenter().Click("btnUpdateCustKey");
  EXPECT_EQ(rx->CustomKeyApplies(), applies);
}

TEST_F(ConfigurationTest, TheTraceShowsEveryReportWithTimeAndDirection) {
  std::vector<std::string> lines;
  s->Presenter().SetTraceSink([&](const std::string& line) { lines.push_back(line); });
  s->Presenter().Click("btnUpdateCustKey");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" ms -> "), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("01 08 0B 00 00 00 00 00 00  C_Combo_Cmd"), std::string::npos)
      << lines[0];
  s->Presenter().Click("btnSpecialCmd1");
  EXPECT_GE(lines.size(), 3u);
  EXPECT_NE(lines.back().find(" <- "), std::string::npos) << lines.back();
  const size_t seen = lines.size();
  s->Presenter().SetTraceSink(nullptr);
  s->Presenter().Click("btnUpdateCustKey");
  EXPECT_EQ(lines.size(), seen);
}

TEST(RfPower, ItemsGiveTheTransceiverValues) {
  EXPECT_EQ(RfPowerValue(0), 27);
  EXPECT_EQ(RfPowerValue(1), 19);
  EXPECT_EQ(RfPowerValue(2), 11);
  EXPECT_EQ(RfPowerValue(3), 3);
  EXPECT_EQ(RfPowerValue(-1), 3);
}

}  // namespace
}  // namespace korvel
