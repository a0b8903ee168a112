// Numbers that cannot repeat, tried as a line would: two stations on one TX.ini, a linked
// TX.ini, a counter that comes round, an old TX.ini restored, a new range, files that are no
// settings, and a record that cannot be written. "Untouched" means the dongle's registers and
// the mouse's EEPROM are as they were before Go.
#include <sqlite3.h>

#include <fstream>
#include <functional>
#include <set>

#include "EmulatedRx.h"
#include "Isolation.h"
#include "Next.h"
#include "StationFixture.h"
#include "platform/AtomicFile.h"

namespace korvel {
namespace {

constexpr const char* kSerialsOn =
    "[TX]\r\n"
    "RXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = 19255;  "
    "IncSNByteCount = 2;  IsFixAscii = True;end;\r\n"
    "TXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = 19256;  "
    "IncSNByteCount = 2;  IsFixAscii = True;end;\r\n"
    "RXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 3289908;end;\r\n"
    "TXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 4342596;end;\r\n";

class NumberingTest : public StationTest {
 protected:
  std::filesystem::path Ini() const { return dir.path / "TX.ini"; }
  void WriteIni(const std::string& text) { std::ofstream(Ini(), std::ios::binary) << text; }
  std::string Bytes(const std::filesystem::path& path) const {
    const auto read = ReadWholeFile(path);
    return read ? read->bytes : std::string();
  }
  std::unique_ptr<Station> Start(ScriptedView& v, std::filesystem::path ini = {}) {
    StationEnvironment env = Environment();
    env.iniPath = std::move(ini);
    env.station = "bench";
    env.recordBusyMs = 0;
    env.date = [] { return LocalDate{2026, 12, 7}; };
    auto s = std::make_unique<Station>(env, v);
    s->Presenter().FormCreate({});
    s->Presenter().FormActivate();
    return s;
  }
  // A fresh dongle and mouse: plugged, paired when needed, Go pressed once ready, taken away.
  RunResult Unit(Station& s, bool* untouched = nullptr, const char* fault = nullptr) {
    EmulatedRx::Config config;
    config.seed = config.instance = ++units;
    auto rx = std::make_shared<EmulatedRx>(host, config);
    auto tx = std::make_shared<EmulatedTx>();
    tx->SetPowered(true, host.TickCount());
    rx->SetTx(tx);
    platform.Attach(rx);
    host.RunFor(5500);
    if (s.Link().HaveRx() && !rx->Linked()) {
      tx->SetBindMode(true);
      s.Presenter().Click("btnCombo_Cmd_Soft_Bind_SW");
      host.RunUntil([&] { return !s.Presence().tmrSoftBind().Enabled(); }, 20000);
      tx->SetBindMode(false);
    }
    host.RunUntil([&] { return s.Presenter().View()["btnGo"].enabled; }, 20000);
    EXPECT_TRUE(s.Presenter().View()["btnGo"].enabled) << "unit " << units << " never became ready";
    const auto registers = rx->Registers();
    const auto eeprom = tx->EepromBytes();
    if (fault) rx->InjectFault(fault);
    if (beforeGo) beforeGo();
    s.Presenter().btnGoClick();
    shownResult = s.Presenter().View()["lblResult"].text;
    shownReason = s.Presenter().View()["lblReason"].text;
    if (untouched) *untouched = rx->Registers() == registers && tx->EepromBytes() == eeprom;
    platform.Detach(rx.get());
    host.RunFor(5500);
    return s.Go().LastRun();
  }
  std::string LastMessage(const ScriptedView& v) const {
    return v.messages.empty() ? std::string() : v.messages.back();
  }
  int units = 0;
  std::function<void()> beforeGo;
  std::string shownResult, shownReason;  // as Go left them
};

TEST_F(NumberingTest, ASecondStationOnOneFileRefusesAndNeverRollsTheNumberingBack) {
  WriteIni(kSerialsOn);
  auto a = Start(view);
  ScriptedView otherView;
  auto b = Start(otherView);
  EXPECT_TRUE(a->File().Claimed());
  EXPECT_FALSE(b->File().Claimed());
  EXPECT_NE(LastMessage(otherView).find("in use by another station (korvel-rf-tool, pid"),
            std::string::npos)
      << LastMessage(otherView);

  std::set<std::string> serials;
  for (int i = 0; i < 3; ++i) {
    const RunResult r = Unit(*a);
    ASSERT_TRUE(r.pass) << r.failedStep;
    EXPECT_TRUE(serials.insert(r.txSerial).second) << r.txSerial;
  }
  bool untouched = false;
  const RunResult refused = Unit(*b, &untouched);
  EXPECT_FALSE(refused.pass);
  EXPECT_EQ(refused.stage, RunStage::Refused);
  EXPECT_TRUE(untouched);
  EXPECT_NE(LastMessage(otherView).find("Nothing was written to the unit"), std::string::npos);

  // The short-lived station closes: the file keeps the long run's numbering.
  const std::string before = Bytes(Ini());
  b->Presenter().FormCloseQuery();
  EXPECT_EQ(Bytes(Ini()), before);
  b.reset();
  const RunResult fourth = Unit(*a);
  ASSERT_TRUE(fourth.pass) << fourth.failedStep;
  EXPECT_EQ(fourth.txSerial, "3555-4B38-0004");
}

// Once the first station is gone the second takes the file over at its next Go.
TEST_F(NumberingTest, ALateClaimReadsTheFileBeforeItNumbersAUnit) {
  WriteIni(kSerialsOn);
  auto a = Start(view);
  ScriptedView otherView;
  auto b = Start(otherView);  // refused, and holding the file as it was at its start
  ASSERT_TRUE(Unit(*a).pass);
  ASSERT_TRUE(Unit(*a).pass);
  a->Presenter().FormCloseQuery();
  a.reset();
  const RunResult r = Unit(*b);
  ASSERT_TRUE(r.pass) << r.failedStep;
  EXPECT_EQ(r.txSerial, "3555-4B38-0003");
}

#ifndef _WIN32
TEST_F(NumberingTest, ALinkedSettingsFileKeepsItsLinkAndItsNumbering) {
  std::filesystem::create_directory(dir.path / "share");
  std::ofstream(dir.path / "share" / "TX.ini", std::ios::binary) << kSerialsOn;
  std::ofstream(dir.path / "share" / "TX.ini.tmp777") << "a killed save's leftovers";
  std::filesystem::create_symlink(dir.path / "share" / "TX.ini", Ini());
  auto s = Start(view, Ini());
  EXPECT_FALSE(std::filesystem::exists(dir.path / "share" / "TX.ini.tmp777"));
  EXPECT_TRUE(std::filesystem::exists(dir.path / "share" / "TX.ini.lock"));
  EXPECT_TRUE(std::filesystem::exists(dir.path / "share" / "production.db"));
  ASSERT_TRUE(Unit(*s).pass);
  ASSERT_TRUE(Unit(*s).pass);
  s->Presenter().FormCloseQuery();
  s.reset();
  EXPECT_TRUE(std::filesystem::is_symlink(Ini()));
  auto again = Start(view, Ini());
  const RunResult r = Unit(*again);
  ASSERT_TRUE(r.pass) << r.failedStep;
  EXPECT_EQ(r.txSerial, "3555-4B38-0003");
}
#endif

TEST_F(NumberingTest, ACounterThatComesRoundOntoAGivenSerialStopsBeforeAnyDeviceIsWritten) {
  WriteIni(kSerialsOn);
  auto s = Start(view);
  s->Ledger().NewSerialStart(GeneratorSlot::TxSN, 0);
  const RunResult first = Unit(*s);
  ASSERT_TRUE(first.pass) << first.failedStep;
  EXPECT_EQ(first.txSerial, "3555-4B38-0000");
  // The engineer starts the counter at its last value; the next unit wraps to 0000.
  s->Ledger().NewSerialStart(GeneratorSlot::TxSN, 0xFFFF);
  const RunResult top = Unit(*s);
  ASSERT_TRUE(top.pass) << top.failedStep;
  EXPECT_EQ(top.txSerial, "3555-4B38-FFFF");
  bool untouched = false;
  const RunResult wrapped = Unit(*s, &untouched);
  EXPECT_FALSE(wrapped.pass);
  EXPECT_EQ(wrapped.stage, RunStage::Refused);
  EXPECT_TRUE(untouched);
  EXPECT_NE(
      wrapped.failedStep.English().find("TX serial 35554B380000 was already given to a unit on"),
      std::string::npos)
      << wrapped.failedStep;
  EXPECT_NE(wrapped.failedStep.English().find("set a new range"), std::string::npos);
  EXPECT_EQ(shownResult, "FAIL");
  EXPECT_EQ(shownReason, wrapped.failedStep.English());
}

TEST_F(NumberingTest, AnOldFileRestoredAfterTenUnitsStopsTheNextUnitUntouched) {
  WriteIni(kSerialsOn);
  const std::string backup = Bytes(Ini());
  auto s = Start(view);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(Unit(*s).pass);
  s->Presenter().FormCloseQuery();
  s.reset();
  WriteIni(backup);
  auto restored = Start(view);
  bool untouched = false;
  const RunResult r = Unit(*restored, &untouched);
  EXPECT_EQ(r.stage, RunStage::Refused);
  EXPECT_TRUE(untouched);
  EXPECT_NE(r.failedStep.English().find("RX serial 35554B370001 was already given"),
            std::string::npos)
      << r.failedStep;
  EXPECT_NE(LastMessage(view).find("RX serial 35554B370001"), std::string::npos);
  EXPECT_EQ(Bytes(Ini()), backup);  // a refused Go commits nothing
}

TEST_F(NumberingTest, AStationStoppedBetweenRecordAndFileGoesOnWithoutRepeating) {
  WriteIni(kSerialsOn);
  auto s = Start(view);
  ASSERT_TRUE(Unit(*s).pass);
  const std::string oneBehind = Bytes(Ini());
  ASSERT_TRUE(Unit(*s).pass);  // 0002: recorded, and then (as if killed) the file is not saved
  s->Presenter().FormCloseQuery();
  s.reset();
  WriteIni(oneBehind);
  // The companion offers what Go will give: 0002 is passed over, and it says why.
  std::ostringstream out, err;
  NextOptions next{.ini = Ini(), .count = 1, .date = LocalDate{2026, 12, 7}, .station = "bench"};
  ASSERT_EQ(RunNext(next, out, err), 0) << err.str();
  EXPECT_EQ(out.str().substr(0, 36), "unit=1 rxsn=3555-4B37-0003 txsn=3555") << out.str();
  EXPECT_NE(err.str().find("RX serial 35554B370002 was already given (record row 2"),
            std::string::npos)
      << err.str();
  // The screen never showed PASS for 0002: its row is put right at the start, and said.
  auto again = Start(view);
  EXPECT_NE(LastMessage(view).find("The unit of record row 2 (35554B370002, 2026-"),
            std::string::npos)
      << LastMessage(view);
  const RunResult r = Unit(*again);
  ASSERT_TRUE(r.pass) << r.failedStep;
  EXPECT_EQ(r.txSerial, "3555-4B38-0003");
  const std::vector<RecordRow> rows = *again->Production().Record().Rows("");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].result, "FAIL");
  EXPECT_TRUE(rows[1].given);
  EXPECT_NE(rows[1].failedStep.find("not saved to TX.ini"), std::string::npos);
  EXPECT_EQ(rows[2].result, "PASS");
}

#ifndef _WIN32
// TX.ini and the record on one disk that fills while a unit is written: the screen says FAIL,
// and the record follows it as soon as it can be written (at the next Go, or at the next start
// when the station was closed first).
TEST_F(NumberingTest, OnAFullDiskTheRecordEndsUpSayingWhatTheScreenSaid) {
  enum class Then { NextGo, Closed, Killed };
  for (const Then then : {Then::NextGo, Then::Closed, Then::Killed}) {
    SCOPED_TRACE(then == Then::NextGo ? "the next Go" : then == Then::Closed ? "closed" : "killed");
    test::TempDir own;
    const auto disk = own.path / "disk";
    std::filesystem::create_directory(disk);
    KORVEL_EXPECT_CHILD(test::OnSmallDisk(disk, 1 << 20, [&] {
      const std::filesystem::path ini = disk / "TX.ini";
      std::ofstream(ini, std::ios::binary) << kSerialsOn;
      auto s = Start(view, ini);
      ASSERT_TRUE(Unit(*s).pass);
      // Free space is searched a quarter page at a time until the disk fills after the unit's
      // PASS row and before TX.ini takes its numbers. Each try leaves rows behind, so the
      // record's pages fall differently from one try to the next; whole pages can step over
      // the narrow window.
      RunResult unsaved;
      std::filesystem::path filler;
      for (size_t leave = 0; leave < 256 * 1024 && unsaved.stage != RunStage::Saved;
           leave += 1024) {
        filler = test::FillDisk(disk, leave);
        unsaved = Unit(*s);
        ASSERT_FALSE(unsaved.pass);
        std::filesystem::remove(filler);
      }
      ASSERT_EQ(unsaved.stage, RunStage::Saved) << unsaved.failedStep;
      const std::string said = unsaved.failedStep.English();
      EXPECT_NE(said.find("not saved to TX.ini"), std::string::npos) << said;
      EXPECT_NE(said.find("the production record still says PASS for it and could not be "
                          "corrected: cannot write the production record"),
                std::string::npos)
          << said;
      EXPECT_NE(said.find("the disk is full"), std::string::npos) << said;
      const std::string failedSerial = unsaved.rxSerial;
      // Space again.
      if (then != Then::NextGo) {
        if (then == Then::Closed) s->Presenter().FormCloseQuery();
        s.reset();
        s = Start(view, ini);
        if (then == Then::Killed) {
          EXPECT_NE(LastMessage(view).find("was recorded as PASS, but TX.ini never took"),
                    std::string::npos)
              << LastMessage(view);
        }
      }
      const RunResult next = Unit(*s);
      ASSERT_TRUE(next.pass) << next.failedStep;
      const std::vector<RecordRow> rows = *s->Production().Record().Rows("");
      // Every attempt on the failed unit's numbers says FAIL; the one that got them says so too.
      const std::string key =
          failedSerial.substr(0, 4) + failedSerial.substr(5, 4) + failedSerial.substr(10);
      int given = 0;
      for (const RecordRow& row : rows) {
        if (row.numbers.rxSerial != key) continue;
        EXPECT_EQ(row.result, "FAIL") << "row " << row.id;
        if (!row.given) continue;
        ++given;
        EXPECT_NE(row.failedStep.find("not saved to TX.ini"), std::string::npos);
      }
      EXPECT_EQ(given, 1);
      EXPECT_EQ(rows.back().result, "PASS");
    }));
  }
}
#endif

// A serial of the date and a fixed part only is a batch code: every unit of the batch gets it,
// and it is no number that can be given twice.
TEST_F(NumberingTest, ASerialWithoutAnIncrementingPartIsABatchCode) {
  WriteIni(
      "[TX]\r\nRXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 4;  "
      "FixSN = 1262637105;  IncSNByteCount = 0;  IsFixAscii = True;end;\r\n");
  auto s = Start(view);
  for (int i = 0; i < 3; ++i) {
    const RunResult r = Unit(*s);
    ASSERT_TRUE(r.pass) << "unit " << i + 1 << ": " << r.failedStep;
    EXPECT_EQ(r.rxSerial, "3555-4B425031");
  }
  const std::vector<RecordRow> rows = *s->Production().Record().Rows("");
  ASSERT_EQ(rows.size(), 3u);
  for (const RecordRow& row : rows) {
    EXPECT_EQ(row.result, "PASS");
    EXPECT_TRUE(row.given);
    EXPECT_EQ(row.numbers.rxSerial, "35554B425031");
  }
  // The link IDs of those units are still numbers of one unit each.
  EXPECT_NE(rows[0].numbers.rxId, rows[1].numbers.rxId);
}

TEST_F(NumberingTest, TheWindowWarnsWhileACounterIsAboutToComeRound) {
  WriteIni(
      "[TX]\r\nTXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  "
      "FixSN = 19256;  IncSNByteCount = 2;  IncInitSN = 65436;  IsFixAscii = True;end;\r\n");
  auto s = Start(view);
  EXPECT_EQ(s->Presenter().View()["lblReason"].text, "");  // 100 left: not yet
  EXPECT_EQ(s->Presenter().View()["edtTX_IncNextSN"].color, "");
  ASSERT_TRUE(Unit(*s).pass);
  EXPECT_EQ(shownReason, "TX serial: 99 numbers left before the counter comes round to 0");
  EXPECT_EQ(s->Presenter().View()["edtTX_IncNextSN"].color, "red");
  // A failure's reason comes first; the warning is back once the line is free of it.
  EXPECT_FALSE(Unit(*s, nullptr, "no-link-after-reload").pass);
  EXPECT_EQ(shownReason.find("TX serial"), std::string::npos) << shownReason;
}

TEST_F(NumberingTest, ANewStartTypedAfterUnitsPassedIsWhereTheNextStartContinues) {
  WriteIni(kSerialsOn);
  auto s = Start(view);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Unit(*s).pass);
  Unlock(*s);
  s->Presenter().ToggleEngineerView();
  ControlState entry = s->Presenter().View()["edtTX_IncInitSN"];
  entry.text = "0100";
  s->Presenter().ControlChanged("edtTX_IncInitSN", entry);
  ControlState id = s->Presenter().View()["edtRX_IncInitRFID"];
  id.text = "505050";
  s->Presenter().ControlChanged("edtRX_IncInitRFID", id);
  s->Presenter().FormCloseQuery();
  s.reset();
  auto again = Start(view);
  const RunResult r = Unit(*again);
  ASSERT_TRUE(r.pass) << r.failedStep;
  EXPECT_EQ(r.txSerial, "3555-4B38-0100");
  EXPECT_EQ(r.rxId, 0x505050u);
}

TEST_F(NumberingTest, FilesThatAreNoSettingsAreReportedAndLeftByteForByte) {
  const std::string utf16("\xFF\xFE[\0T\0X\0]\0\r\0\n\0", 14);
  const std::string garbage(
      "\x7F"
      "ELF\x02\x01\x01\0\0\0garbage\x90\x90",
      19);
  for (const std::string& bytes : {utf16, garbage, std::string("just some notes\r\n")}) {
    WriteIni(bytes);
    ScriptedView v;
    auto s = Start(v);
    EXPECT_NE(LastMessage(v).find("is not a settings file"), std::string::npos) << LastMessage(v);
    bool untouched = false;
    const RunResult r = Unit(*s, &untouched);
    EXPECT_EQ(r.stage, RunStage::Refused);
    EXPECT_TRUE(untouched);
    s->Presenter().btnWriteSettingClick();
    s->Presenter().FormCloseQuery();
    s.reset();
    EXPECT_EQ(Bytes(Ini()), bytes);
  }
}

TEST_F(NumberingTest, UnsoundGeneratorsStopGoUntilTheEngineerSetsThemAgain) {
  std::string ini = kSerialsOn;
  ini.replace(ini.find("FixSNByteCount = 2;  FixSN = 19256;  IncSNByteCount = 2"),
              std::string("FixSNByteCount = 2;  FixSN = 19256;  IncSNByteCount = 2").size(),
              "FixSNByteCount = 2147483647;  FixSN = 19256;  IncSNByteCount = -2147483648");
  WriteIni(ini);
  auto s = Start(view);
  EXPECT_NE(LastMessage(view).find("TXSNINFO"), std::string::npos) << LastMessage(view);
  bool untouched = false;
  const RunResult r = Unit(*s, &untouched);
  EXPECT_EQ(r.stage, RunStage::Refused);
  EXPECT_TRUE(untouched);
  EXPECT_NE(r.failedStep.English().find("TXSNINFO: FixSNByteCount = 2147483647 is outside 0..4"),
            std::string::npos)
      << r.failedStep;
  Unlock(*s);
  s->Presenter().ToggleEngineerView();
  ControlState count = s->Presenter().View()["edtTX_FixByteCount"];
  count.text = "2";
  s->Presenter().ControlChanged("edtTX_FixByteCount", count);
  const RunResult fixed = Unit(*s);
  EXPECT_TRUE(fixed.pass) << fixed.failedStep;
}

TEST_F(NumberingTest, ARecordThatCannotTakeThePassTurnsItIntoFailAndCommitsNothing) {
  WriteIni(kSerialsOn);
  auto s = Start(view);
  ASSERT_TRUE(Unit(*s).pass);
  const std::string saved = Bytes(Ini());
  // Another writer takes the record while the unit is being written.
  sqlite3* rival = nullptr;
  ASSERT_EQ(sqlite3_open((dir.path / "production.db").string().c_str(), &rival), SQLITE_OK);
  auto grab = host.CreateTimer();
  grab->SetInterval(300);
  grab->OnTimer = [&] {
    sqlite3_exec(rival, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    grab->SetEnabled(false);
  };
  beforeGo = [&] { grab->SetEnabled(true); };  // fires while the unit is written
  const RunResult r = Unit(*s);
  sqlite3_exec(rival, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(rival);
  EXPECT_FALSE(r.pass);
  EXPECT_EQ(r.stage, RunStage::Recorded);
  EXPECT_NE(r.failedStep.English().find("the production record did not take the unit"),
            std::string::npos)
      << r.failedStep;
  EXPECT_EQ(Bytes(Ini()), saved);
  EXPECT_EQ(shownResult, "FAIL");
  beforeGo = nullptr;
  // The numbers were not given: the next unit gets them.
  const RunResult next = Unit(*s);
  ASSERT_TRUE(next.pass) << next.failedStep;
  EXPECT_EQ(next.txSerial, "3555-4B38-0002");
}

TEST_F(NumberingTest, ARecordThatIsNoDatabaseStopsGoUntilItIsFixed) {
  WriteIni(kSerialsOn);
  std::ofstream(dir.path / "production.db", std::ios::binary) << std::string(4096, '\x5A');
  auto s = Start(view);
  EXPECT_NE(LastMessage(view).find("production record"), std::string::npos) << LastMessage(view);
  bool untouched = false;
  const RunResult r = Unit(*s, &untouched);
  EXPECT_EQ(r.stage, RunStage::Refused);
  EXPECT_TRUE(untouched);
  std::filesystem::remove(dir.path / "production.db");
  const RunResult fixed = Unit(*s);
  EXPECT_TRUE(fixed.pass) << fixed.failedStep;
  EXPECT_EQ(fixed.txSerial, "3555-4B38-0001");
}

TEST_F(NumberingTest, TodaysCountsAndTheRateShowBesideGo) {
  WriteIni(kSerialsOn);
  auto s = Start(view);
  ASSERT_TRUE(Unit(*s).pass);
  ASSERT_TRUE(Unit(*s).pass);
  EXPECT_FALSE(Unit(*s, nullptr, "no-link-after-reload").pass);
  const std::string& yield = s->Presenter().View()["lblYield"].text;
  EXPECT_EQ(yield.rfind("Today PASS 2  FAIL 1  ", 0), 0u) << yield;
  EXPECT_NE(yield.find(" units/h"), std::string::npos);
  s->Presenter().btnYieldResetClick();  // locked: the operator cannot reset
  EXPECT_EQ(s->Presenter().Yield().pass, 2);
  Unlock(*s);
  s->Presenter().btnYieldResetClick();
  EXPECT_EQ(s->Presenter().Yield().pass, 0);
  EXPECT_EQ(s->Presenter().View()["lblYield"].text, "Today PASS 0  FAIL 0  - units/h");
}

TEST_F(NumberingTest, AHardLinkedSettingsFileIsRefusedBecauseASaveWouldSplitIt) {
  WriteIni(kSerialsOn);
  std::filesystem::create_directory(dir.path / "other");
  std::filesystem::create_hard_link(Ini(), dir.path / "other" / "TX.ini");
  auto s = Start(view);
  EXPECT_FALSE(s->File().Claimed());
  EXPECT_NE(LastMessage(view).find("has 2 hard links"), std::string::npos) << LastMessage(view);
  bool untouched = false;
  EXPECT_EQ(Unit(*s, &untouched).stage, RunStage::Refused);
  EXPECT_TRUE(untouched);
}

TEST_F(NumberingTest, AfterASaveFailsNoSecondUnitIsNumberedUntilTheFileTakesTheFirst) {
  WriteIni(kSerialsOn);
  auto s = Start(view);
  ASSERT_TRUE(Unit(*s).pass);
  const std::string saved = Bytes(Ini());
  std::filesystem::remove(Ini());
  std::filesystem::create_directory(Ini());  // every save now fails
  const RunResult unsaved = Unit(*s);
  EXPECT_EQ(unsaved.stage, RunStage::Saved);
  EXPECT_NE(LastMessage(view).find("its numbers stay given: it gets new ones"), std::string::npos)
      << LastMessage(view);
  bool untouched = false;
  const RunResult held = Unit(*s, &untouched);
  EXPECT_EQ(held.stage, RunStage::Refused);
  EXPECT_TRUE(untouched);
  EXPECT_NE(held.failedStep.English().find("still not saved to TX.ini"), std::string::npos)
      << held.failedStep;
  std::filesystem::remove(Ini());
  WriteIni(saved);
  const RunResult next = Unit(*s);
  ASSERT_TRUE(next.pass) << next.failedStep;
  EXPECT_EQ(next.txSerial, "3555-4B38-0003");  // 0002 went into the unit that was not saved
  s->Presenter().FormCloseQuery();
  s.reset();
  auto again = Start(view);
  EXPECT_EQ(again->Presenter().Yield().pass, 2);  // today's counts come from the record
  EXPECT_EQ(again->Presenter().Yield().fail, 1);
  const RunResult after = Unit(*again);
  ASSERT_TRUE(after.pass) << after.failedStep;
  EXPECT_EQ(after.txSerial, "3555-4B38-0004");
}

TEST_F(NumberingTest, ARecordPathInTheSettingsFileMayNameAFolder) {
  std::filesystem::create_directory(dir.path / "records");
  WriteIni(std::string(kSerialsOn) + "[Record]\r\nPath=records\r\n");
  auto s = Start(view);
  ASSERT_TRUE(Unit(*s).pass);
  EXPECT_EQ(s->Production().RecordPath(), dir.path / "records" / "production.db");
  EXPECT_TRUE(std::filesystem::exists(dir.path / "records" / "production.db"));
  EXPECT_FALSE(std::filesystem::exists(dir.path / "production.db"));
}

}  // namespace
}  // namespace korvel
