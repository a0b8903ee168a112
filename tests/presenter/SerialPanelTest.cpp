#include <gtest/gtest.h>

#include <fstream>

#include "StationFixture.h"

namespace korvel {
namespace {

ControlState Text(const std::string& text) {
  ControlState c;
  c.text = text;
  return c;
}
ControlState Checked(bool on) {
  ControlState c;
  c.checked = on;
  return c;
}

TEST_F(StationTest, EngineersShowThePanelOnlyWhileUnlockedAndLockingHidesIt) {
  auto s = Make();
  s->Presenter().FormCreate({});
  ViewState& v = s->Presenter().View();
  s->Presenter().ToggleEngineerView();  // an operator's stray chord does nothing
  EXPECT_FALSE(v["gbRX"].visible);
  EXPECT_EQ(v.height, 480);
  Unlock(*s);
  s->Presenter().ToggleEngineerView();
  EXPECT_TRUE(v["gb1"].visible && v["gbRX"].visible && v["gbTX"].visible);
  EXPECT_EQ(v.height, 740 - 60 - 60);  // shown: each serial group is 60 short of its full height
  EXPECT_EQ(v["gbGo"].top, v.height - 120 - 16);
  s->Presenter().imgLogoDblClick();  // lock
  EXPECT_FALSE(s->Presenter().State().engineerView);
  EXPECT_FALSE(v["gbRX"].visible);
  EXPECT_EQ(v.height, 480);
}

TEST_F(StationTest, PanelEditsGoThroughTheGeneratorAndAreSavedAtOnce) {
  auto s = Make();
  s->Presenter().FormCreate({});
  s->Presenter().FormActivate();
  Unlock(*s);
  s->Presenter().ToggleEngineerView();
  s->Presenter().ControlChanged("cbRX_IsSN", Checked(true));
  EXPECT_TRUE(s->Ledger().Gen().RxSN.IsSN());
  EXPECT_EQ(s->Presenter().View()["gbRX"].height, 95);
  EXPECT_TRUE(s->Presenter().View()["edtRX_IncInitSN"].visible);
  s->Presenter().ControlChanged("edtRX_IncInitSN", Text("01f0"));
  const TProdSN& rx = s->Ledger().Gen().RxSN;
  EXPECT_EQ(rx.IncInitSN(), 0x01F0);
  EXPECT_EQ(s->Presenter().View()["edtRX_IncInitSN"].text, "01F0");
  EXPECT_EQ(s->Presenter().View()["edtRX_IncNextSN"].text, "01F0");
  s->Presenter().ControlChanged("edtRX_FixSN", Text("K7"));
  EXPECT_EQ(rx.FixSN(), 0x4B37);
  s->Presenter().ControlChanged("rbRX_FixHex", Checked(true));
  EXPECT_EQ(s->Presenter().View()["edtRX_FixSN"].text, "4B37");
  s->Presenter().ControlChanged("rbTX_CustomRFID", Checked(true));
  s->Presenter().ControlChanged("edtTX_IncInitRFID", Text("123456"));
  EXPECT_EQ(s->Presenter().View()["edtTX_IncNextRFID"].text, "123456");
  EXPECT_EQ(s->Presenter().View()["edtRX_IncNextRFID"].text, "");  // random: drawn only when used
  EXPECT_TRUE(view.messages.empty());

  // Everything is in TX.ini already: a new station (after a crash) continues from it.
  view.messages.clear();
  auto again = Make();
  again->Presenter().FormCreate({});
  EXPECT_TRUE(again->Ledger().Gen().RxSN.IsSN());
  EXPECT_EQ(again->Ledger().Gen().RxSN.IncInitSN(), 0x01F0);
  EXPECT_EQ(again->Ledger().Gen().RxSN.FixSN(), 0x4B37);
  EXPECT_FALSE(again->Ledger().Gen().RxSN.IsFixAscii());
  EXPECT_FALSE(again->Ledger().Gen().TxRFID.IsRandom());
  EXPECT_EQ(again->Presenter().View()["edtTX_IncNextRFID"].text, "123456");
}

TEST_F(StationTest, BadPanelEntriesAreRefusedWithAMessageAndNotSaved) {
  auto s = Make();
  s->Presenter().FormCreate({});
  s->Presenter().FormActivate();
  Unlock(*s);
  const TProdSN before = s->Ledger().Gen().RxSN;
  struct Case {
    const char* field;
    const char* text;
  } cases[] = {
      // Date on: four bytes to share.
      {"edtRX_FixByteCount", "5"},
      {"edtRX_IncByteCount", "x"},
      // Two fixed bytes: two characters.
      {"edtRX_FixSN", "ABC"},
      {"edtRX_FixSN", "\x01Z"},
      // Two incrementing bytes: four digits.
      {"edtRX_IncInitSN", "12345"},
      {"edtRX_IncInitSN", "12G4"},
      {"edtRX_IncInitRFID", "1234567"},
      {"edtRX_IncInitRFID", "0"},
  };
  for (const Case& c : cases) {
    view.messages.clear();
    s->Presenter().ControlChanged(c.field, Text(c.text));
    ASSERT_EQ(view.messages.size(), 1u) << c.field << " " << c.text;
    EXPECT_EQ(view.messages[0].rfind("dlgError:RX ", 0), 0u) << view.messages[0];
  }
  EXPECT_EQ(s->Ledger().Gen().RxSN.FixSNByteCount(), before.FixSNByteCount());
  EXPECT_EQ(s->Ledger().Gen().RxSN.FixSN(), before.FixSN());
  EXPECT_EQ(s->Ledger().Gen().RxSN.IncInitSN(), before.IncInitSN());
  EXPECT_EQ(s->Presenter().View()["edtRX_FixByteCount"].text,
            "2");  // the field shows the generator again
  EXPECT_EQ(s->Presenter().View()["edtRX_IncInitSN"].text, "0000");
  EXPECT_FALSE(std::filesystem::exists(dir.path / "TX.ini"));
}

TEST_F(StationTest, ByteCountsFollowTheGeneratorAndTheUnlockRule) {
  auto s = Make();
  s->Presenter().FormCreate({});
  Unlock(*s);
  ViewState& v = s->Presenter().View();
  s->Presenter().ControlChanged("edtTX_FixByteCount", Text("0"));
  EXPECT_EQ(v["edtTX_IncByteCount"].text, "4");
  EXPECT_FALSE(v["edtTX_FixSN"].enabled);
  EXPECT_TRUE(v["edtTX_IncInitSN"].enabled);
  s->Presenter().ControlChanged("cbTX_IsDate",
                                Checked(false));  // the two date bytes go to the fixed part
  EXPECT_EQ(v["edtTX_FixByteCount"].text, "2");
  EXPECT_TRUE(v["edtTX_FixSN"].enabled);
  EXPECT_EQ(v["lblTX_Date"].text, "");
}

TEST_F(StationTest, LoadSettingShowsTheFilesNumberingInThePanel) {
  auto s = Make();
  s->Presenter().FormCreate({});
  Unlock(*s);
  s->Presenter().ToggleEngineerView();
  EXPECT_FALSE(s->Presenter().View()["cbTX_IsSN"].checked);
  // An engineer puts another station's numbering into the file, then loads it.
  std::ofstream(dir.path / kIniFileName, std::ios::binary)
      << "[TX]\r\nTXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  "
         "IncSNByteCount = 2;  IncInitSN = 500;  IncPrevSN = 699;  IncCurrentSN = 700;end;\r\n";
  ASSERT_TRUE(s->Presenter().Click("btnLoadSetting"));
  EXPECT_EQ(s->Ledger().Gen().TxSN.IncCurrentSN(), 700);
  const ViewState& v = s->Presenter().View();
  EXPECT_TRUE(v["cbTX_IsSN"].checked);
  EXPECT_TRUE(v["gbTX"].visible);
  EXPECT_EQ(v["edtTX_IncInitSN"].text, "01F4");
  EXPECT_EQ(v["edtTX_IncCurrentSN"].text, "02BC");
  EXPECT_TRUE(view.messages.empty()) << view.messages[0];
}

}  // namespace
}  // namespace korvel
