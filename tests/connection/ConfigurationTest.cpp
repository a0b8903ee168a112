// The settings controls' staging and the engineering page's operations, on the emulator.
#include <gtest/gtest.h>

#include "EmulatedRx.h"
#include "StationFixture.h"
#include "device/Staging.h"
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
    s->FormCreate({});
    s->FormActivate();
    host.RunFor(5500);  // the RX is found and opened
    ASSERT_TRUE(s->HaveRx());
    s->Staging().StagingMode = kStagingIdle;
  }
  void Set(const std::string& name, const std::string& text) { s->View()[name].text = text; }
  void Check(const std::string& name, bool on = true) {
    ControlState c = s->View()[name];
    c.checked = on;
    s->ControlChanged(name, c);
  }
  void Select(const std::string& name, int index) {
    ControlState c = s->View()[name];
    c.itemIndex = index;
    s->ControlChanged(name, c);
  }
  void InRun() {
    s->Staging().Clear();
    s->Staging().StagingMode = kStagingRun;
  }
  int StagedCount() {
    int n = 0;
    for (int32_t v : s->Staging().TxEepromImage) n += v != kNotStaged;
    for (int32_t v : s->Staging().RxRegisterImage) n += v != kNotStaged;
    return n;
  }
  const std::string& Text(const std::string& name) { return s->View()[name].text; }

  std::shared_ptr<EmulatedRx> rx = std::make_shared<EmulatedRx>(host);
  std::shared_ptr<EmulatedTx> tx = std::make_shared<EmulatedTx>();
  std::unique_ptr<Station> s;
};

TEST_F(ConfigurationTest, EachTxOptionStagesItsPairOnlyInARun) {
  const struct {
    const char* button;
    uint8_t address, value;
  } table[] = {{"rbRF_DR_15", 0x12, 0x33}, {"rbRF_DR_1A", 0x12, 0xCC}, {"rbRF_DR_25", 0x14, 0x55},
               {"rbRF_DR_2A", 0x14, 0xAA}, {"rbRF_DR_45", 0x16, 0x3C}, {"rbRF_DR_4A", 0x16, 0xC5},
               {"rbRF_DR_4F", 0x16, 0xCA}, {"rbRF_DR_5A", 0x18, 0x5A}, {"rbRF_DR_55", 0x18, 0x55}};
  for (const auto& row : table) {
    s->Staging().Clear();
    s->Staging().StagingMode = kStagingIdle;
    Check(row.button);
    EXPECT_EQ(StagedCount(), 0) << row.button;
    InRun();
    Check(row.button);
    EXPECT_EQ(StagedCount(), 2) << row.button;
    EXPECT_EQ(s->Staging().TxEepromImage[row.address], row.value) << row.button;
    EXPECT_EQ(s->Staging().TxEepromImage[row.address + 1], row.value ^ 0xFF) << row.button;
    EXPECT_EQ(HexFieldNumber(Text("edtRF_EEPROMAddr")), row.address + 1) << row.button;
    EXPECT_EQ(HexFieldNumber(Text("edtRF_EEPROMData")), row.value ^ 0xFF) << row.button;
  }
}

TEST_F(ConfigurationTest, BatteryLevelKeepsTheRxsFiveLowBits) {
  rx->Registers()[0x2F] = 0x9A65;  // high byte 0x9A: low five bits 0x1A
  Select("cbRF_Set_BTY_Low_Level", 0);
  EXPECT_EQ(StagedCount(), 0);
  const struct {
    int index;
    uint8_t level;
  } cases[] = {{0, 0x40}, {1, 0x20}, {2, 0x00}, {-1, 0x20}};
  for (const auto& c : cases) {
    InRun();
    Select("cbRF_Set_BTY_Low_Level", c.index);
    EXPECT_EQ(s->Staging().TxEepromImage[0x1A], c.level) << c.index;
    EXPECT_EQ(s->Staging().TxEepromImage[0x1B], c.level ^ 0xFF) << c.index;
    const uint8_t b = c.level | 0x1A;
    EXPECT_EQ(s->Staging().RxRegisterImage[0x2F], (b << 8) | (b ^ 0xFF)) << c.index;
  }
}

TEST_F(ConfigurationTest, RxKindPeriodsLrmSensorAndCpi) {
  InRun();
  Check("rbKbdMse");
  EXPECT_EQ(s->Staging().RxRegisterImage[0x38], 0xFFFF);
  EXPECT_TRUE(s->View()["cbKeyboardbind"].visible);
  Check("rbMouseOnly");
  EXPECT_EQ(s->Staging().RxRegisterImage[0x38], 0x5AA5);
  EXPECT_FALSE(s->View()["cbKeyboardbind"].visible);

  ControlState sleep = s->View()["suiSpinEdit1"];
  sleep.value = 56;
  s->ControlChanged("suiSpinEdit1", sleep);
  EXPECT_EQ(Text("Label3"), "1828.36ms");
  EXPECT_EQ(Text("Label4"), "6.4ms");
  s->StagePeriods();
  EXPECT_EQ(s->Staging().RxRegisterImage[0x39], 0x38C7);
  EXPECT_EQ(s->Staging().RxRegisterImage[0x3A], 0x0FF0);

  Check("LRMBinding", true);
  EXPECT_EQ(s->Staging().TxEepromImage[0x1C], 0x24);
  EXPECT_EQ(s->Staging().TxEepromImage[0x1D], 0xDB);
  Check("LRMBinding", false);
  EXPECT_EQ(s->Staging().TxEepromImage[0x1C], 0x20);
  EXPECT_EQ(s->Staging().TxEepromImage[0x1D], 0xDF);

  Check("Call3204L", true);
  EXPECT_EQ(s->Staging().TxEepromImage[0x74], 0xB2);
  EXPECT_EQ(s->Staging().TxEepromImage[0x75], 0x4D);
  Check("Call3204L", false);
  EXPECT_EQ(s->Staging().TxEepromImage[0x74], 0xFF);

  const uint64_t cpiBefore = rx->CommandCount(0x2F);
  Check("rbRF_CPI_H");
  EXPECT_EQ(s->View()["edtC_RF_SETUP_CPI"].value, 1);
  EXPECT_EQ(rx->CommandCount(0x2F), cpiBefore + 1);
  host.RunFor(50);
  EXPECT_EQ(tx->CpiStep(), 1);

  // Outside a run the CPI buttons send nothing.
  s->Staging().StagingMode = kStagingIdle;
  Check("rbRF_CPI_L");
  EXPECT_EQ(rx->CommandCount(0x2F), cpiBefore + 1);
}

TEST_F(ConfigurationTest, CustomKeysStageTheirCodesAndAnnounceThem) {
  Select("cbCustKey1", 0);
  EXPECT_EQ(StagedCount(), 0);
  EXPECT_EQ(rx->CustomKeyApplies(), 0u);

  InRun();
  Select("cbCustKey1", 7);  // WWW HOME
  EXPECT_EQ(s->Staging().RxRegisterImage[3], 0x23DC);
  EXPECT_EQ(s->Staging().RxRegisterImage[4], 0x02FD);
  EXPECT_EQ(rx->CustomKeyApplies(), 1u);
  Select("cbCustKey2", 0);  // [DISABLE]
  EXPECT_EQ(s->Staging().RxRegisterImage[5], 0x00FF);
  EXPECT_EQ(s->Staging().RxRegisterImage[6], 0x00FF);
  EXPECT_EQ(rx->CustomKeyApplies(), 2u);

  // An index beyond the list stages nothing for its key; the other key still works.
  InRun();
  Select("cbCustKey1", 30);
  Select("cbCustKey2", 8);  // MAIL 0x18A
  EXPECT_EQ(s->Staging().RxRegisterImage[3], kNotStaged);
  EXPECT_EQ(s->Staging().RxRegisterImage[5], 0x8A75);
  EXPECT_EQ(s->Staging().RxRegisterImage[6], 0x01FE);
  EXPECT_EQ(rx->CustomKeyApplies(), 3u);
}

TEST_F(ConfigurationTest, EepromTabReadsRegistersAndStagesWrites) {
  rx->Registers()[0] = 0x0AF5;
  ASSERT_TRUE(s->Click("btnEEPROM_R_00"));
  EXPECT_EQ(Text("edtEEPROM_00"), "0A");
  Set("edtEEPROM_01", "5");
  const uint64_t sent = rx->ReportsReceived();
  s->Click("btnEEPROM_W_01");
  EXPECT_EQ(s->Staging().RxRegisterImage[1], 0x05FA);
  EXPECT_EQ(rx->ReportsReceived(), sent);  // W sends nothing

  Set("edtVID_SET", "1BCF");
  s->Click("btnEEPROM_W_VID");
  EXPECT_EQ(s->Staging().RxRegisterImage[15], 0x1BE4);
  EXPECT_EQ(s->Staging().RxRegisterImage[16], 0xCF30);
  rx->Registers()[17] = 0x05FA;
  rx->Registers()[18] = 0x3AC5;
  s->Click("btnEEPROM_R_PID");
  EXPECT_EQ(Text("edtPID_SET"), "053A");

  Set("edtEEPROM_20", "Mouse");
  s->Click("btnEEPROM_W_20");
  EXPECT_EQ(Text("edtEEPROM_19"), "C");
  EXPECT_EQ(s->Staging().RxRegisterImage[19], 0x0CF3);
  EXPECT_EQ(s->Staging().RxRegisterImage[20], 0x4D6F);  // "Mo"
}

TEST_F(ConfigurationTest, RfTabWritesAndReadsTheMouseThroughTheLink) {
  Check("rbC_RF_ENTER_ACCESS_W_LED");
  host.RunFor(20);
  EXPECT_EQ(tx->AccessMode(), EmulatedTx::Access::WithLed);
  Set("edtRF_EEPROMAddr", "30");
  Set("edtRF_EEPROMData", "5A");
  s->Click("btnC_RF_Wrt_EEPROM");
  EXPECT_EQ(tx->EepromBytes()[0x30], 0x5A);
  Set("edtRF_EEPROMData", "00");
  s->Click("btnC_RF_Rd_EEPROM");
  EXPECT_EQ(Text("edtRF_EEPROMData"), "5A");

  s->Click("btnRF_DR_3C");
  EXPECT_EQ(Text("edtRF_DirectRegAddr"), "FF");
  EXPECT_EQ(Text("edtRF_DirectRegData"), "3C");
  host.RunFor(200);
  EXPECT_EQ(tx->PorCount(), 1);

  // A mouse that does not answer: eight F digits.
  tx->SetPowered(false, host.TickCount());
  s->Click("btnC_RF_Rd_EEPROM");
  EXPECT_EQ(Text("edtRF_EEPROMData"), "FFFFFFFF");
  EXPECT_TRUE(s->Device().CommandFailed);
}

TEST_F(ConfigurationTest, AFieldThatIsNotHexStopsBeforeAnythingIsSent) {
  const uint64_t sent = rx->ReportsReceived();
  Set("edtRF_EEPROMAddr", "3g");
  s->Click("btnC_RF_Wrt_EEPROM");
  Set("edtDirectAddr", "zz");
  s->Click("btnC_Rd_Direct_Reg");
  Set("edtVID_SET", "12345");
  s->Click("btnEEPROM_W_VID");
  EXPECT_EQ(rx->ReportsReceived(), sent);
  ASSERT_EQ(view.messages.size(), 3u);
  EXPECT_EQ(view.messages[0], "dlgError:'3g' is not a valid hexadecimal value (edtRF_EEPROMAddr).");
  EXPECT_EQ(s->Staging().RxRegisterImage[15], kNotStaged);
}

TEST_F(ConfigurationTest, RxPageReadsAndSpecialQueries) {
  rx->DirectRegisters()[0x10] = 0x7E;
  Set("edtDirectAddr", "10");
  s->Click("btnC_Rd_Direct_Reg");
  EXPECT_EQ(Text("edtDirectData"), "7E");
  s->Click("btnSpecialCmd1");
  EXPECT_EQ(Text("edtSC01_00"), "28");
  EXPECT_EQ(Text("edtSC01_02"), "00");
  EXPECT_EQ(Text("edtSC01_06"), "10");
  // No RX: nothing is sent, the EEPROM read still empties its field.
  rx->Unplug();
  host.RunFor(5500);
  Set("edtEEPROM_00", "12");
  s->Click("btnEEPROM_R_00");
  EXPECT_EQ(Text("edtEEPROM_00"), "");
  const uint64_t applies = rx->CustomKeyApplies();
  s->Click("btnUpdateCustKey");
  EXPECT_EQ(rx->CustomKeyApplies(), applies);
}

TEST_F(ConfigurationTest, TheTraceShowsEveryReportWithTimeAndDirection) {
  std::vector<std::string> lines;
  s->SetTraceSink([&](const std::string& line) { lines.push_back(line); });
  s->Click("btnUpdateCustKey");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" ms -> "), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("01 08 0B 00 00 00 00 00 00"), std::string::npos) << lines[0];
  s->Click("btnSpecialCmd1");
  EXPECT_GE(lines.size(), 3u);
  EXPECT_NE(lines.back().find(" <- "), std::string::npos) << lines.back();
  const size_t seen = lines.size();
  s->SetTraceSink(nullptr);
  s->Click("btnUpdateCustKey");
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
