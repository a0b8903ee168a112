// The station numbering through the fleet database, end to end on the emulated dongle and
// mouse and a real PostgreSQL server: numbers from leased blocks, rows arriving once, a
// restored TX.ini, an outage, the last guard, random IDs.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "EmulatedRx.h"
#include "FleetServer.h"
#include "Records.h"
#include "platform/AtomicFile.h"
#include "platform/Text.h"
#include "presenter/StationFixture.h"
#include "production/FleetRecords.h"

namespace korvel {
namespace {

constexpr LocalDate kToday{2026, 12, 7};

class FleetStationTest : public StationTest {
 protected:
  // TX.ini: both serials on (fixed parts 4B37 and 4B38, counters from 0x10), custom link IDs
  // or random ones, and the fleet database.
  void WriteIni(const std::string& url, int lease, bool randomIds = false) {
    std::ofstream(dir.path / "TX.ini", std::ios::binary)
        << "[TX]\r\n"
           "RXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = "
           "19255;  IncSNByteCount = 2;  IncInitSN = 16;  IsFixAscii = True;end;\r\n"
           "TXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = "
           "19256;  IncSNByteCount = 2;  IncInitSN = 16;  IsFixAscii = True;end;\r\n"
        << "RXRFIDINFO=object TProdRFID;  IsRandom = " << (randomIds ? "True" : "False")
        << ";  IncInitRFID = 3289908;end;\r\n"
        << "TXRFIDINFO=object TProdRFID;  IsRandom = " << (randomIds ? "True" : "False")
        << ";  IncInitRFID = 4342596;end;\r\n"
        << "[Record]\r\nUrl=" << url << "\r\nStation=LINE1\r\nLease=" << lease << "\r\n";
  }
  void Start() {
    StationEnvironment env = Environment();
    env.date = [] { return kToday; };
    env.recordBusyMs = 2000;
    s = std::make_unique<Station>(env, view);
    s->Presenter().FormCreate({});
    s->Presenter().FormActivate();
  }
  // The window closes: the rows it can send go, what it did not use goes back.
  void Stop() {
    s->Presenter().FormCloseQuery();
    s.reset();
  }
  // One unit as an operator runs it: a fresh dongle and mouse, Go, the unit leaves.
  RunResult Unit() {
    auto rx = std::make_shared<EmulatedRx>(host);
    auto tx = std::make_shared<EmulatedTx>();
    rx->SetTx(tx);
    tx->SetPowered(true, host.TickCount());
    platform.Attach(rx);
    host.RunFor(5500);  // one detection round
    host.RunUntil([&] { return s->Presence().Ready().rx && s->Presence().Ready().tx; }, 12000, 5);
    view.messages.clear();
    RunResult run;
    run.failedStep = Phrase::Literal("Go not enabled");
    if (s->Presenter().View()["btnGo"].enabled) {
      s->Presenter().btnGoClick();
      run = s->Go().LastRun();
    }
    // Taken away for longer than a detection round, so the station sees it go.
    platform.Detach(rx.get());
    host.RunFor(5500);
    return run;
  }
  std::string LastMessage() const { return view.messages.empty() ? "" : view.messages.back(); }
  // The sender's round, as the retry timer starts it, waited for.
  void Sent() { s->Production().FleetConnection().SendNow(); }

  std::unique_ptr<Station> s;
};

TEST_F(FleetStationTest, UnitsTakeTheirNumbersFromLeasedBlocksAndEachRowArrivesOnce) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  WriteIni(database.Url(), 4);
  Start();
  std::set<std::string> serials;
  for (int unit = 0; unit < 6; ++unit) {
    const RunResult run = Unit();
    ASSERT_TRUE(run.pass) << run.failedStep << " / " << LastMessage();
    serials.insert(run.rxSerial);
  }
  EXPECT_EQ(serials.size(), 6u);
  // The counters go on from TX.ini's start, block after block.
  EXPECT_EQ(*serials.begin(), "3555-4B37-0010");
  EXPECT_EQ(*serials.rbegin(), "3555-4B37-0015");
  Sent();
  const FleetStatus status = s->Production().Fleet();
  EXPECT_TRUE(status.online) << status.why;
  EXPECT_EQ(status.backlog, 0);
  EXPECT_EQ(status.numbersLeft, 2);
  EXPECT_TRUE(FleetStatusLine(status).empty());
  Stop();

  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.units WHERE result = 'PASS' AND given"), 6);
  EXPECT_EQ(
      database.Count("SELECT count(DISTINCT local_id) FROM korvel.units WHERE station = 'LINE1'"),
      6);
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.given_numbers"), 24);
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.leases WHERE kind = 'block' AND "
                           "series_id = (SELECT id FROM korvel.series WHERE generator = 'RXSN')"),
            2);
  // At close the unused tail went back to the counter: nothing is left held or unexplained.
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.lease_usage WHERE state = 'held'"), 0);
  EXPECT_EQ(database.Count("SELECT sum(holes) FROM korvel.series_usage"), 0);

  // The unit and the settings it got, from either store.
  for (const std::string& store : {database.Url(), (dir.path / "production.db").string()}) {
    std::ostringstream out, err;
    RecordsOptions options;
    options.db = store;
    options.serial = "35554B370012";
    ASSERT_EQ(RunRecords(options, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("PASS"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("rxsn=35554B370012"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("    PName="), std::string::npos) << store << ": " << out.str();
  }
}

// An RX serial of the date and a fixed part only is a batch code: no series is leased for it,
// and the line's record keeps it on every unit without the last guard refusing one.
TEST_F(FleetStationTest, ABatchCodeSerialIsNoSeriesAndEveryUnitsRowArrives) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  WriteIni(database.Url(), 4);
  {
    const std::filesystem::path ini = dir.path / "TX.ini";
    std::ifstream in(ini, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string counted = "FixSNByteCount = 2;  FixSN = 19255;  IncSNByteCount = 2;";
    ASSERT_NE(text.find(counted), std::string::npos);
    text.replace(text.find(counted), counted.size(),
                 "FixSNByteCount = 4;  FixSN = 19255;  IncSNByteCount = 0;");
    std::ofstream(ini, std::ios::binary) << text;
  }
  Start();
  std::set<std::string> rxSerials, txSerials;
  for (int unit = 0; unit < 3; ++unit) {
    const RunResult run = Unit();
    ASSERT_TRUE(run.pass) << run.failedStep << " / " << LastMessage();
    rxSerials.insert(run.rxSerial);
    txSerials.insert(run.txSerial);
  }
  EXPECT_EQ(rxSerials.size(), 1u);
  EXPECT_EQ(txSerials.size(), 3u);
  Sent();
  EXPECT_EQ(s->Production().Fleet().backlog, 0);
  Stop();
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.units WHERE result = 'PASS' AND given AND "
                           "shared_serials = 1"),
            3);
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.refused_units"), 0);
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.series WHERE key LIKE 'RXSN%'"), 0);
}

TEST_F(FleetStationTest, ARestoredIniContinuesWithFreshNumbers) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  WriteIni(database.Url(), 100);
  const Result<FileContents> read = ReadWholeFile(dir.path / "TX.ini");
  ASSERT_TRUE(read);
  const std::string backup = read->bytes;
  Start();
  std::set<std::string> given;
  for (int unit = 0; unit < 3; ++unit) {
    const RunResult run = Unit();
    ASSERT_TRUE(run.pass) << run.failedStep;
    given.insert(run.rxSerial);
  }
  Stop();
  // The engineer puts back yesterday's TX.ini: its counters are behind the line's.
  std::ofstream(dir.path / "TX.ini", std::ios::binary) << backup;
  Start();
  for (int unit = 0; unit < 3; ++unit) {
    const RunResult run = Unit();
    ASSERT_TRUE(run.pass) << run.failedStep << " / " << LastMessage();
    EXPECT_TRUE(given.insert(run.rxSerial).second) << run.rxSerial << " given twice";
  }
  Stop();
  EXPECT_EQ(database.Count("SELECT count(DISTINCT rx_serial) FROM korvel.units WHERE given"), 6);
}

TEST_F(FleetStationTest, ANewStartAboveTheBlockHeldWinsAndTheBlockGoesBack) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  WriteIni(database.Url(), 100);
  Start();
  ASSERT_TRUE(Unit().pass) << LastMessage();
  ASSERT_TRUE(Unit().pass) << LastMessage();
  // The engineer types a new RX start in the serial panel.
  s->Ledger().NewSerialStart(GeneratorSlot::RxSN, 0x200);
  const RunResult run = Unit();
  ASSERT_TRUE(run.pass) << LastMessage();
  EXPECT_EQ(run.rxSerial, "3555-4B37-0200");
  EXPECT_EQ(run.txSerial, "3555-4B38-0012");
  Stop();
  // The numbers jumped over and the block left behind, each with its reason.
  std::vector<std::string> reasons;
  const Status read = ForEachLease(database.Admin(), "LINE1", [&](const LeaseUsage& l) {
    if (l.generator == "RXSN") reasons.push_back(l.kind + " " + UnusedReason(l).English());
  });
  ASSERT_TRUE(read) << read.failure;
  EXPECT_EQ(reasons, (std::vector<std::string>{"block 98 returned unused at close",
                                               "skipped 396 skipped: a station's start value "
                                               "was above the counter",
                                               "block "}));
  EXPECT_EQ(database.Count("SELECT sum(holes) FROM korvel.series_usage"), 0);
}

TEST_F(FleetStationTest, ABlockPastItsTimeOnTheStationsClockIsNotUsed) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  WriteIni(database.Url(), 10);
  Start();
  ASSERT_EQ(Unit().rxSerial, "3555-4B37-0010") << LastMessage();
  // Two days on (a station left on over a weekend): its blocks count as expired.
  const int64_t later = s->Production().Record().Now() + 2 * 86400;
  s->Production().Record().SetClock([later] { return later; });
  const RunResult run = Unit();
  ASSERT_TRUE(run.pass) << LastMessage();
  EXPECT_EQ(run.rxSerial, "3555-4B37-001A");
  Stop();
}

TEST_F(FleetStationTest, AnOutageIsRiddenOutInsideTheBlocksThenGoWaitsAndTheBacklogArrivesOnce) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  WriteIni(database.Url(), 5);
  Start();
  ASSERT_TRUE(Unit().pass) << LastMessage();
  Sent();
  database.Server().Crash();
  // Four numbers left in the blocks held: four more units without the database.
  for (int unit = 0; unit < 4; ++unit) {
    const RunResult run = Unit();
    ASSERT_TRUE(run.pass) << run.failedStep << " / " << LastMessage();
  }
  // The window's reason line says so once the sender found the database gone.
  Sent();
  host.RunFor(1000);
  EXPECT_EQ(s->Presenter().View()["lblReason"].text, "fleet offline, 0 numbers left");
  const RunResult refused = Unit();
  EXPECT_FALSE(refused.pass);
  EXPECT_EQ(refused.stage, RunStage::Refused);
  const std::string said = LastMessage();
  EXPECT_NE(said.find("Nothing was written to the unit: cannot reach the fleet database: "),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("Go waits until the fleet database is back"), std::string::npos) << said;
  Sent();
  FleetStatus status = s->Production().Fleet();
  EXPECT_TRUE(status.configured);
  EXPECT_FALSE(status.online);
  EXPECT_EQ(status.numbersLeft, 0);
  EXPECT_EQ(status.backlog, 4);
  EXPECT_NE(status.why.English().find("cannot reach the fleet database"), std::string::npos);
  EXPECT_EQ(FleetStatusLine(status).English(), "fleet offline, 0 numbers left");

  database.Server().Restart();
  // Nobody presses anything: the station's own timer finds the database back.
  for (int round = 0; round < 200 && s->Production().Fleet().backlog > 0; ++round) {
    host.RunFor(3000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  status = s->Production().Fleet();
  EXPECT_TRUE(status.online) << status.why;
  EXPECT_EQ(status.backlog, 0);
  database.Reconnect();
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.units"), 5);
  ASSERT_TRUE(Unit().pass) << LastMessage();
  Stop();
  // Every row once: the refused Go wrote none, and each (station, record, row) is there once.
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.units"), 6);
  EXPECT_EQ(database.Count("SELECT count(DISTINCT (record_uid, local_id)) FROM korvel.units"), 6);
  EXPECT_EQ(database.Count("SELECT count(DISTINCT rx_serial) FROM korvel.units"), 6);
}

// A station stopped between its record's PASS and TX.ini's save: when it starts again, the
// row goes to the database as what the screen showed.
TEST_F(FleetStationTest, AStationStoppedBeforeTxIniTookAUnitSendsItsRowAsTheScreenShowedIt) {
  for (const bool iniTookIt : {false, true}) {
    SCOPED_TRACE(iniTookIt ? "TX.ini took the unit" : "TX.ini never took the unit");
    test::FleetTestDb database;
    KORVEL_NEED_FLEET(database);
    std::filesystem::remove_all(dir.path);
    std::filesystem::create_directories(dir.path);
    WriteIni(database.Url(), 10);
    Start();
    ASSERT_TRUE(Unit().pass) << LastMessage();
    Sent();
    const std::string afterFirst = ReadWholeFile(dir.path / "TX.ini")->bytes;
    database.Server().Crash();
    ASSERT_TRUE(Unit().pass) << LastMessage();
    Stop();
    // As if it stopped before the mark (and, in the first case, before TX.ini's save).
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path / "production.db").string().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db, "UPDATE outbox SET ready = 0 WHERE unit = 2", nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
    if (!iniTookIt) std::ofstream(dir.path / "TX.ini", std::ios::binary) << afterFirst;
    database.Server().Restart();
    Start();
    Sent();
    const bool noticed = !view.messages.empty() &&
                         view.messages.back().find("do not ship that unit") != std::string::npos;
    EXPECT_EQ(noticed, !iniTookIt) << LastMessage();
    database.Reconnect();
    EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.units WHERE local_id = 2 AND result = '" +
                             std::string(iniTookIt ? "PASS" : "FAIL") + "' AND given"),
              1);
    // Its numbers stay given either way: the next unit gets fresh ones.
    const RunResult next = Unit();
    ASSERT_TRUE(next.pass) << LastMessage();
    EXPECT_EQ(next.rxSerial, "3555-4B37-0012");
    Stop();
  }
}

TEST_F(FleetStationTest, ADatabaseWithoutTheTablesStopsGoWithDbInit) {
  test::FleetTestDb database(false);
  KORVEL_NEED_FLEET(database);
  WriteIni(database.Url(), 10);
  Start();
  const RunResult run = Unit();
  EXPECT_EQ(run.stage, RunStage::Refused);
  EXPECT_NE(LastMessage().find("run korvel-rf db init"), std::string::npos) << LastMessage();
  // The station made nothing there.
  EXPECT_EQ(database.Count("SELECT count(*) FROM pg_namespace WHERE nspname = 'korvel'"), 0);
  Stop();
}

TEST_F(FleetStationTest, ARowTheLastGuardRefusesIsKeptApartAndTheRowsAfterItArrive) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  // A unit of another line already carries the serial this station's second unit gets.
  ASSERT_TRUE(database.Admin().Exec(
      Phrase::Literal("twin"),
      "INSERT INTO korvel.units(station, record_uid, local_id, outbox_seq, pc, time_utc, "
      "time_local, settings_file, result, rx_serial, settings_hash, given) VALUES ('OLD', 'r', "
      "1, 1, 'pc', now(), '2026-12-01 10:00:00', '/TX.ini', 'PASS', '35554B370011', '00', "
      "true)"));
  WriteIni(database.Url(), 10);
  Start();
  for (int unit = 0; unit < 3; ++unit) ASSERT_TRUE(Unit().pass) << LastMessage();
  Sent();
  EXPECT_EQ(s->Production().Fleet().backlog, 0);
  Stop();
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.units WHERE station = 'LINE1'"), 2);
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.refused_units WHERE rx_serial = "
                           "'35554B370011' AND reason LIKE '%duplicate key%'"),
            1);
}

TEST_F(FleetStationTest, RandomLinkIdsAreReservedBeforeAUnitGetsThem) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  WriteIni(database.Url(), 3, true);
  Start();
  for (int unit = 0; unit < 5; ++unit) ASSERT_TRUE(Unit().pass) << LastMessage();
  Stop();
  // Each unit's two IDs were in a pool this station held before they were written.
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.given_numbers g JOIN korvel.pool_ids p "
                           "ON p.series_id = g.series_id AND p.value = g.value JOIN "
                           "korvel.leases l ON l.id = p.lease_id WHERE l.station = 'LINE1' AND "
                           "l.kind = 'pool'"),
            10);
  EXPECT_EQ(database.Count("SELECT count(DISTINCT rx_id) FROM korvel.units"), 5);
  // The IDs not used went back at close.
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.pool_ids p WHERE NOT EXISTS (SELECT 1 "
                           "FROM korvel.given_numbers g WHERE g.series_id = p.series_id AND "
                           "g.value = p.value)"),
            0);
}

}  // namespace
}  // namespace korvel
