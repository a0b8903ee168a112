#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <iterator>

#include "StationFixture.h"
#include "station/Station.h"
#include "ui/WindowLayout.h"

namespace korvel {
namespace {

TEST_F(StationTest, StartUpStateOfTheWindow) {
  auto s = Make();
  s->Presenter().FormCreate({});
  EXPECT_FALSE(s->Presenter().State().autoStart);
  const std::string prefix = std::string(kFormCaption) + " For B-Nova Only TempID=";
  ASSERT_EQ(s->Presenter().View().caption.rfind(prefix, 0), 0u) << s->Presenter().View().caption;
  const int tempId = std::stoi(s->Presenter().View().caption.substr(prefix.size()));
  EXPECT_GE(tempId, 0);
  EXPECT_LE(tempId, 254);
  EXPECT_EQ(tempId, s->Presenter().State().tempId);
  for (size_t i = 0; i < kFixedVidPidEntries; ++i) {
    EXPECT_EQ(s->Finder().Table()[i].vid, kFixedVidPids[i].vid);
    EXPECT_EQ(s->Finder().Table()[i].pid, kFixedVidPids[i].pid);
  }
  EXPECT_EQ(s->Finder().Table()[21].vid, 0);
  EXPECT_TRUE(s->Presence().DetectHIDDeviceCounter().Enabled());
  EXPECT_EQ(s->Presence().DetectHIDDeviceCounter().Interval(), 5500u);
  EXPECT_FALSE(s->Presence().tmrSoftBind().Enabled());
  EXPECT_FALSE(s->Presence().tmrIsTxLink().Enabled());
  ViewState& v = s->Presenter().View();
  EXPECT_EQ(v["cbCustKey1"].items.size(), 24u);
  EXPECT_EQ(v["cbCustKey1"].itemIndex, 7);
  EXPECT_EQ(v["cbCustKey2"].itemIndex, 8);
  // No TX.ini: index 6 of three, shown as the item whose level byte it stages.
  EXPECT_EQ(v["cbRF_Set_BTY_Low_Level"].itemIndex, 1);
  EXPECT_EQ(v["lblResult"].text, "");
  EXPECT_FALSE(v["Image1"].visible);
  EXPECT_FALSE(v["gbSetting"].enabled);
  EXPECT_FALSE(v["btnGo"].enabled);
  EXPECT_EQ(v["btnCombo_Cmd_Soft_Bind_SW"].text, "&Connect");
  for (const char* hidden : {"gb1", "gbRX", "gbTX", "edtMseDongleAddr", "edtTX_SN", "edtRX_SN"})
    EXPECT_FALSE(v[hidden].visible) << hidden;
  EXPECT_EQ(v.width, 900);
  // The hidden panels give back all their room: the Go group follows the settings at once.
  EXPECT_EQ(v.height, 740 - 70 - 95 - 95);
  EXPECT_EQ(v["pbSetTX"].top, v.height - 16);
  EXPECT_EQ(v["gbGo"].top, v.height - 120 - 16);
  EXPECT_EQ(v["gbGo"].top, kWindowSettingsEnd);
  EXPECT_EQ(v.left, 1920 / 2 - 900 / 2);
  EXPECT_EQ(s->Programmer().Staging().StagingMode, kStagingIdle);
  EXPECT_TRUE(view.languagePrompts.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.path / "TX.ini"));
}

TEST_F(StationTest, AnyParameterMeansAutoStart) {
  auto s = Make();
  s->Presenter().FormCreate({"x"});
  EXPECT_TRUE(s->Presenter().State().autoStart);
}

TEST_F(StationTest, WriteSettingIsIgnoredUntilTheFirstActivation) {
  auto s = Make();
  s->Presenter().FormCreate({});
  s->Presenter().btnWriteSettingClick();
  EXPECT_FALSE(std::filesystem::exists(dir.path / "TX.ini"));
  s->Presenter().FormActivate();
  EXPECT_FALSE(s->Presenter().State().startingUp);
  s->Presenter().btnWriteSettingClick();
  EXPECT_TRUE(std::filesystem::exists(dir.path / "TX.ini"));
}

TEST_F(StationTest, ClosingWithNoRxSavesAndSendsNothing) {
  std::vector<HidTraceEvent> trace;
  auto s = Make();
  s->Presenter().FormCreate({});
  s->Presenter().FormActivate();
  const uint64_t t0 = host.TickCount();
  s->Presenter().FormCloseQuery();
  EXPECT_TRUE(std::filesystem::exists(dir.path / "TX.ini"));
  EXPECT_EQ(host.TickCount() - t0, 50u);
  EXPECT_EQ(platform.OpenCalls(), 0u);
}

TEST_F(StationTest, ResizeAlwaysRestoresTheComputedSize) {
  auto s = Make();
  s->Presenter().FormCreate({});
  s->Presenter().View().width = 1200;
  s->Presenter().View().height = 300;
  s->Presenter().FormResize();
  EXPECT_EQ(s->Presenter().View().width, 900);
  EXPECT_EQ(s->Presenter().View().height, 480);
}

TEST_F(StationTest, PageDownPressesGoOnlyWhileGoIsEnabled) {
  auto s = Make();
  s->Presenter().FormCreate({});
  EXPECT_FALSE(s->Presenter().FormKeyDown(kVkPageDown));
  EXPECT_EQ(s->Go().Requests(), 0);
  s->Presenter().View()["btnGo"].enabled = true;
  EXPECT_FALSE(s->Presenter().FormKeyDown(33));
  EXPECT_TRUE(s->Presenter().FormKeyDown(kVkPageDown));
  EXPECT_EQ(s->Go().Requests(), 1);
}

TEST_F(StationTest, FiveDoubleClicksAndTheExactPassPhraseUnlock) {
  auto s = Make();
  s->Presenter().FormCreate({});
  view.passwords = {std::string("meridonqx"), std::string(" MeridonQX"), std::nullopt,
                    std::string("MeridonQX")};
  for (int i = 0; i < 4; ++i) s->Presenter().imgLogoDblClick();
  EXPECT_EQ(view.passwordPrompts, 0);
  s->Presenter().imgLogoDblClick();
  EXPECT_EQ(view.passwordPrompts, 1);
  EXPECT_FALSE(s->Presenter().View()["gbSetting"].enabled);
  for (int i = 0; i < 10; ++i)
    s->Presenter().imgLogoDblClick();  // a leading blank at 10, cancel at 15
  EXPECT_EQ(view.passwordPrompts, 3);
  EXPECT_FALSE(s->Presenter().View()["gbSetting"].enabled);
  for (int i = 0; i < 5; ++i) s->Presenter().imgLogoDblClick();  // right at 20
  ViewState& v = s->Presenter().View();
  EXPECT_TRUE(v["gbSetting"].enabled);
  EXPECT_TRUE(v["ComboRFPower"].enabled);
  EXPECT_TRUE(v["CallMAPX"].enabled);
  EXPECT_TRUE(v["edtRX_FixSN"].enabled);  // default generator: two fixed bytes
  EXPECT_TRUE(view.messages.empty());
  // A double-click while unlocked locks at once and does not count.
  s->Presenter().imgLogoDblClick();
  EXPECT_FALSE(v["gbSetting"].enabled);
  EXPECT_FALSE(v["ComboRFPower"].enabled);
  EXPECT_EQ(view.messages, (std::vector<std::string>{":Locked"}));
  EXPECT_EQ(s->Presenter().State().logoDoubleClicks, 20);
}

TEST_F(StationTest, UnlockedFixedFieldStaysOffWithoutFixedBytes) {
  auto s = Make();
  s->Presenter().FormCreate({});
  s->Ledger().Gen().RxSN.SetFixSNByteCount(0);
  view.passwords = {std::string("MeridonQX")};
  for (int i = 0; i < 5; ++i) s->Presenter().imgLogoDblClick();
  EXPECT_TRUE(s->Presenter().View()["gbSetting"].enabled);
  EXPECT_FALSE(s->Presenter().View()["edtRX_FixSN"].enabled);
  EXPECT_TRUE(s->Presenter().View()["edtRX_IncInitSN"].enabled);
}

TEST_F(StationTest, LanguageIsAskedWhenUnknownAndAppliedToEveryControl) {
  store.value = "nonsense";
  view.languageAnswer = 1;
  auto s = Make();
  s->Presenter().FormCreate({});
  EXPECT_EQ(view.languagePrompts.size(), 1u);
  EXPECT_EQ(store.value, "lkCht");
  EXPECT_EQ(s->Presenter().View()["btnCombo_Cmd_Soft_Bind_SW"].text, "連線(&C)");
  EXPECT_EQ(s->Presenter().View()["btnGo"].text, "設定");
  s->Presenter().cbbLangChange(2);
  EXPECT_EQ(store.value, "lkChs");
  EXPECT_EQ(s->Presenter().View()["btnCombo_Cmd_Soft_Bind_SW"].text, "对码(&C)");
  EXPECT_EQ(s->Presenter().View()["rbKbdMse"].text, "键盘+滑鼠");
  EXPECT_EQ(s->Presenter().View()["lblRFIDNOTE"].text, "自订ID时软件将自动跳过系统保留数值");
  // Forgetting the choice is asked first; "no" keeps it.
  view.answers = {false, true};
  EXPECT_TRUE(s->Presenter().Click("btnClearLng"));
  EXPECT_EQ(store.value, "lkChs");
  s->Presenter().btnClearLngClick();
  EXPECT_FALSE(store.value);
  ASSERT_EQ(view.questions.size(), 2u);
  // Asked in the language shown: "next start" in Simplified Chinese.
  EXPECT_NE(view.questions[0].find("下次启动"), std::string::npos) << view.questions[0];
  EXPECT_EQ(CurrentLanguage(), lkChs);
  // The next start asks again.
  s.reset();
  view.languageAnswer = 0;
  Make()->Presenter().FormCreate({});
  EXPECT_EQ(view.languagePrompts.size(), 2u);
  EXPECT_EQ(store.value, "lkEng");
}

TEST_F(StationTest, SettingsComeFromTheFileAndProblemsAreShown) {
  std::ofstream(dir.path / "TX.ini", std::ios::binary)
      << "[TX]\r\nCustKey1=3\r\nSleep=100\r\nMouseOnly=0\r\nRFPower=0\r\n[Device]\r\n0=nothex\r\n1="
         "1BCF05CA\r\n";
  auto s = Make();
  s->Presenter().FormCreate({});
  ViewState& v = s->Presenter().View();
  EXPECT_EQ(v["cbCustKey1"].itemIndex, 3);
  EXPECT_EQ(v["suiSpinEdit1"].value, 100);
  EXPECT_TRUE(v["rbKbdMse"].checked);
  EXPECT_TRUE(v["cbKeyboardbind"].visible);
  EXPECT_EQ(v["ComboRFPower"].itemIndex, 0);
  EXPECT_EQ(s->Finder().Table()[8].pid, 0x05CA);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("[Device] 0=nothex"), std::string::npos);
}

TEST_F(StationTest, EverySettingTravelsFromTheFileToTheControlsAndBackUnchanged) {
  const std::string settings =
      "[TX]\r\nCustKey1=3\r\nCustKey2=0\r\nMouseOnly=0\r\nSoftISS=1\r\nSleep=100\r\n"
      "WakeupPeriod=4\r\nCPI=1\r\nPowerSaving=1\r\nWakeup=1\r\nBTY=0\r\nVID=6863\r\nPID=1338\r\n"
      "TX_Erased=1\r\nRX_Erased=1\r\nPName=Korvel Desk\r\nLRMBinding=1\r\nRFPower=2\r\n"
      "ResetRF=0\r\nDelay=17\r\nKBind=1\r\nEnabledMAPX=1\r\nEnabled3204L=1\r\n";
  std::ofstream(dir.path / "TX.ini", std::ios::binary) << settings;
  auto s = Make();
  s->Presenter().FormCreate({});
  s->Presenter().FormActivate();
  ViewState& v = s->Presenter().View();
  EXPECT_EQ(v["cbCustKey1"].itemIndex, 3);
  EXPECT_TRUE(v["rbKbdMse"].checked && !v["rbMouseOnly"].checked);
  EXPECT_TRUE(v["rbRF_DR_15"].checked && !v["rbRF_DR_1A"].checked);
  EXPECT_EQ(v["suiSpinEdit2"].value, 4);
  EXPECT_TRUE(v["rbRF_CPI_H"].checked && !v["rbRF_CPI_L"].checked);
  EXPECT_TRUE(v["rbRF_DR_4A"].checked && !v["rbRF_DR_45"].checked && !v["rbRF_DR_4F"].checked);
  EXPECT_TRUE(v["rbRF_DR_2A"].checked);
  EXPECT_EQ(v["cbRF_Set_BTY_Low_Level"].itemIndex, 0);
  EXPECT_EQ(v["edtVID_SET"].text, "1ACF");
  EXPECT_EQ(v["edtPID_SET"].text, "053A");
  EXPECT_TRUE(v["TX_Erased"].checked && v["btnEraseTX"].enabled);
  EXPECT_EQ(v["edtEEPROM_20"].text, "Korvel Desk");
  EXPECT_EQ(v["ComboRFPower"].itemIndex, 2);
  EXPECT_FALSE(v["cbResetRF"].checked);
  EXPECT_TRUE(v["cbKeyboardbind"].checked && v["cbKeyboardbind"].visible);
  EXPECT_TRUE(v["CallMAPX"].checked && v["Call3204L"].checked);
  s->Presenter().btnWriteSettingClick();
  std::ifstream in(dir.path / "TX.ini", std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(written.substr(0, settings.size()), settings);
  EXPECT_EQ(written.find("RXSNINFO="), settings.size());
}

TEST(StationBmp, LogoSizeFromTheBitmapHeader) {
  test::TempDir dir;
  auto bmp = [&](int w, int h) {
    unsigned char header[54] = {'B', 'M'};
    header[14] = 40;
    for (int i = 0; i < 4; ++i) {
      header[18 + i] = uint8_t(w >> (8 * i));
      header[22 + i] = uint8_t(h >> (8 * i));
    }
    std::ofstream(dir.path / "logo.bmp", std::ios::binary)
        .write(reinterpret_cast<char*>(header), sizeof header);
  };
  int w = 0, h = 0;
  bmp(400, 60);
  ASSERT_TRUE(ReadBmpSize(dir.path / "logo.bmp", w, h));
  EXPECT_EQ(w, 400);
  EXPECT_EQ(h, 60);
  bmp(401, -60);  // top-down
  ASSERT_TRUE(ReadBmpSize(dir.path / "logo.bmp", w, h));
  EXPECT_EQ(h, 60);
  std::ofstream(dir.path / "logo.bmp") << "GIF89a";
  EXPECT_FALSE(ReadBmpSize(dir.path / "logo.bmp", w, h));
}

TEST_F(StationTest, ACustomerLogoUpTo400By60ReplacesOurs) {
  unsigned char header[54] = {'B', 'M'};
  header[14] = 40;
  header[18] = 400 & 0xFF, header[19] = 400 >> 8, header[22] = 60;
  std::ofstream(dir.path / "logo.bmp", std::ios::binary)
      .write(reinterpret_cast<char*>(header), sizeof header);
  auto s = Make();
  s->Presenter().FormCreate({});
  EXPECT_TRUE(s->Presenter().View()["imgCust"].visible);
  EXPECT_FALSE(s->Presenter().View()["imgLogo"].visible);
  header[18] = 401 & 0xFF;
  std::ofstream(dir.path / "logo.bmp", std::ios::binary)
      .write(reinterpret_cast<char*>(header), sizeof header);
  auto t = Make();
  t->Presenter().FormCreate({});
  EXPECT_FALSE(t->Presenter().View()["imgCust"].visible);
  EXPECT_TRUE(t->Presenter().View()["imgLogo"].visible);
}

}  // namespace
}  // namespace korvel
