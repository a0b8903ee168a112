#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "EmulatedHid.h"
#include "EmulatedNeighbours.h"
#include "EmulatedRx.h"
#include "EmulatedTx.h"
#include "Next.h"
#include "Simulate.h"
#include "StationVerb.h"
#include "TempDir.h"
#include "VirtualHost.h"
#include "platform/AtomicFile.h"
#include "platform/FileLock.h"
#include "production/ProductionRecord.h"

namespace korvel {
namespace {

// Serials without the date, so a run on any day gives what `simulate` gives.
constexpr const char* kIni =
    "[TX]\r\n"
    "RXSNINFO=object TProdSN;  IsSN = True;  IsDate = False;  FixSNByteCount = 3;  FixSN = 19255;  "
    "IncSNByteCount = 3;  IsFixAscii = True;end;\r\n"
    "TXSNINFO=object TProdSN;  IsSN = True;  IsDate = False;  FixSNByteCount = 3;  FixSN = 19256;  "
    "IncSNByteCount = 3;  IsFixAscii = True;end;\r\n"
    "RXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 3289908;end;\r\n"
    "TXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 4342596;end;\r\n";

struct Unit {
  std::shared_ptr<EmulatedRx> rx;
  std::shared_ptr<EmulatedTx> tx;
};

class StationVerbTest : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(dir.path / "TX.ini", std::ios::binary) << kIni; }

  void Open(bool autoGo, int units = 0, bool jsonLines = false) {
    StationOptions options;
    options.ini = dir.path / "TX.ini";
    options.autoGo = autoGo;
    options.units = units;
    options.jsonLines = jsonLines;
    station = std::make_unique<ConsoleStation>(options, host, platform, hotPlug.get(), out, err);
  }
  // A unit as `simulate` makes its n-th, put in the port.
  Unit Plug(int n) {
    EmulatedRx::Config config;
    config.seed = uint32_t(n);
    config.instance = n;
    Unit unit{std::make_shared<EmulatedRx>(host, config), std::make_shared<EmulatedTx>()};
    unit.tx->SetPowered(true, host.TickCount());
    unit.rx->SetTx(unit.tx);
    platform.Attach(unit.rx);
    return unit;
  }
  // The loop as the verb runs it, on virtual time; true when the station finished.
  bool Run(uint64_t ms, const std::function<void()>& eachTurn = nullptr) {
    return host.RunUntil(
        [&] {
          if (eachTurn) eachTurn();
          station->Turn();
          return station->Finished();
        },
        ms, 5);
  }
  std::vector<std::string> Lines(const std::string& prefix) const {
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);)
      if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    return lines;
  }

  test::TempDir dir;
  VirtualHost host;
  EmulatedHidPlatform platform{host};
  std::unique_ptr<HotPlugSource> hotPlug = platform.CreateHotPlugSource();
  std::ostringstream out, err;
  std::unique_ptr<ConsoleStation> station;
};

std::string Field(const std::string& line, const std::string& key) {
  const std::regex pattern("(^| )" + key + "=([^ ]+)");
  std::smatch match;
  return std::regex_search(line, match, pattern) ? match[2].str() : std::string();
}

// Auto Go programs each unit once, as `simulate` would (numbers and device images), leaves a
// programmed unit alone while it stays plugged, and ends after --units with the lock released.
TEST_F(StationVerbTest, AutoGoProgramsEachUnitOnceLikeSimulateAndEndsAfterUnits) {
  Open(/*autoGo=*/true, /*units=*/2);
  ASSERT_EQ(station->Start(), std::nullopt) << err.str();
  std::vector<Unit> units;
  units.push_back(Plug(1));
  EXPECT_FALSE(Run(20000));
  ASSERT_EQ(Lines("unit=").size(), 1u) << out.str();
  // Still plugged: the station waits for the next unit instead of programming this one again.
  const uint64_t reports = units[0].rx->ReportsReceived();
  EXPECT_FALSE(Run(30000));
  EXPECT_EQ(Lines("unit=").size(), 1u);
  EXPECT_LT(units[0].rx->ReportsReceived() - reports, 50u) << "only the link check talks to it";
  // Another device coming and going makes the station search again and find this unit once
  // more: it is still not programmed twice.
  auto keyboard = std::make_shared<EmulatedForeignDevice>("keyboard", 0x1234, 0x5678, 0x0100,
                                                          std::vector<uint16_t>{0, 0});
  platform.Attach(keyboard);
  EXPECT_FALSE(Run(2000));
  platform.Detach(keyboard.get());
  EXPECT_FALSE(Run(20000));
  EXPECT_EQ(Lines("unit=").size(), 1u) << out.str();
  platform.Detach(units[0].rx.get());
  host.RunFor(1000);
  units.push_back(Plug(2));
  EXPECT_TRUE(Run(20000)) << out.str();
  EXPECT_EQ(station->Finish(), kExitDone);
  const auto lines = Lines("unit=");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Lines("summary units=2 pass=2").size(), 1u) << out.str();
  EXPECT_GE(Lines("status rx=\"Mouse RX Ready\"").size(), 2u) << out.str();
  // The lock is free again: another station may claim TX.ini.
  FileLock lock;
  EXPECT_TRUE(lock.Acquire(dir.path / "TX.ini.lock", "test").Ok());
  lock.Release();

  // The same TX.ini and units through `simulate`, in a folder of its own.
  test::TempDir other;
  std::ofstream(other.path / "TX.ini", std::ios::binary) << kIni;
  std::ostringstream simOut, simErr;
  SimulateOptions options;
  options.ini = other.path / "TX.ini";
  options.units = 2;
  options.json = other.path / "units.json";
  ASSERT_EQ(RunSimulate(options, simOut, simErr), kExitDone) << simErr.str();
  std::istringstream simLines(simOut.str());
  std::string simLine;
  for (size_t i = 0; i < 2 && std::getline(simLines, simLine); ++i) {
    for (const char* key : {"unit", "result", "rxsn", "txsn", "rxid", "txid"})
      EXPECT_EQ(Field(lines[i], key), Field(simLine, key)) << key << "\n" << lines[i];
  }
  const auto json = ReadWholeFile(other.path / "units.json");
  ASSERT_TRUE(json);
  for (size_t i = 0; i < 2; ++i) {
    std::string eeprom = "\"tx_eeprom\":[";
    for (size_t b = 0; b < units[i].tx->EepromBytes().size(); ++b)
      eeprom += (b ? "," : "") + std::to_string(units[i].tx->EepromBytes()[b]);
    EXPECT_NE(json->bytes.find(eeprom + "]"), std::string::npos) << "unit " << i + 1;
  }
}

// Without --auto, Go is a line on the input: an empty line or "go"; a word that is not a
// command is answered; "quit" ends the station.
TEST_F(StationVerbTest, InputLinesPressGoAndQuitEnds) {
  Open(/*autoGo=*/false);
  ASSERT_EQ(station->Start(), std::nullopt);
  station->Line("go");
  EXPECT_FALSE(Run(100));
  EXPECT_EQ(Lines("note \"Go not enabled: RX not ready\"").size(), 1u) << out.str();
  Unit unit = Plug(1);
  EXPECT_FALSE(Run(20000));
  EXPECT_TRUE(Lines("unit=").empty()) << "nothing pressed Go";
  // The mouse switched off after Go was enabled: a press runs nothing, and says so.
  unit.tx->SetPowered(false, host.TickCount());
  EXPECT_FALSE(Run(3000));
  station->Line("go");
  EXPECT_FALSE(Run(100));
  EXPECT_TRUE(Lines("unit=").empty()) << out.str();
  EXPECT_EQ(Lines("note \"Go not enabled: TX not ready\"").size(), 1u) << out.str();
  unit.tx->SetPowered(true, host.TickCount());
  EXPECT_FALSE(Run(20000));
  station->Line("\r");  // a terminal's Enter from a Windows console
  EXPECT_FALSE(Run(20000));
  ASSERT_EQ(Lines("unit=1 result=PASS").size(), 1u) << out.str();
  station->Line("program");
  EXPECT_FALSE(Run(100));
  EXPECT_EQ(Lines("note \"'program' is not a command").size(), 1u) << out.str();
  station->Line("quit");
  EXPECT_TRUE(Run(100));
  EXPECT_EQ(station->Finish(), kExitDone);
}

// A signal during a unit ends the station only after the unit's result and record row.
TEST_F(StationVerbTest, StopDuringAUnitEndsAfterItsRecord) {
  Open(/*autoGo=*/true);
  ASSERT_EQ(station->Start(), std::nullopt);
  auto signal = host.CreateTimer();
  signal->SetInterval(1);
  signal->OnTimer = [&] {
    signal->SetEnabled(false);
    station->Stop();
  };
  Unit unit = Plug(1);
  // The signal comes due as Go starts: it is heard inside the run.
  EXPECT_TRUE(Run(20000, [&] {
    if (unit.rx->ReportsReceived() > 0 && !signal->Enabled() && Lines("unit=").empty())
      signal->SetEnabled(true);
  }));
  EXPECT_EQ(station->Finish(), kExitDone);
  ASSERT_EQ(Lines("unit=1 result=PASS").size(), 1u) << out.str();
  ProductionRecord record;
  ASSERT_TRUE(record.Open(dir.path / "production.db").Ok());
  const auto rows = record.Rows({});
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 1u);
  EXPECT_EQ(rows->front().result, "PASS");
}

// JSON lines: every line one object with its event; a message's line breaks escaped.
TEST_F(StationVerbTest, JsonLinesAreOneObjectEach) {
  Open(/*autoGo=*/true, /*units=*/1, /*jsonLines=*/true);
  ASSERT_EQ(station->Start(), std::nullopt);
  Unit unit = Plug(1);
  unit.tx->SetBatteryLevel(1);
  EXPECT_FALSE(Run(20000));
  unit.tx->SetBatteryLevel(9);
  platform.Detach(unit.rx.get());
  host.RunFor(1000);
  unit = Plug(2);
  EXPECT_TRUE(Run(20000)) << out.str();
  station->Finish();
  const std::regex object(R"re(^\{"event":"(station|status|message|note|unit|summary)".*\}$)re");
  std::istringstream in(out.str());
  int lines = 0;
  for (std::string line; std::getline(in, line); ++lines)
    EXPECT_TRUE(std::regex_match(line, object)) << line;
  EXPECT_GT(lines, 4);
  EXPECT_NE(out.str().find("{\"event\":\"message\",\"dialog\":\"battery\",\"text\":"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("{\"event\":\"unit\",\"unit\":1,\"result\":\"PASS\""), std::string::npos)
      << out.str();
}

// A station that cannot run says why in its exit code, as the other verbs do.
TEST_F(StationVerbTest, ExitCodesWhenTheStationCannotRun) {
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path& dir)> arrange;
    int code;
  };
  FileLock other;
  const Case cases[] = {
      {"not a settings file",
       [](const auto& d) {
         std::ofstream(d / "TX.ini", std::ios::binary) << std::string(64, '\0');
       },
       kExitBadSettings},
      {"held by another station",
       [&other](const auto& d) { ASSERT_TRUE(other.Acquire(d / "TX.ini.lock", "another").Ok()); },
       kExitInUse},
      {"record is a folder of another kind",
       [](const auto& d) {
         std::ofstream(d / "TX.ini", std::ios::binary | std::ios::app)
             << "[Record]\r\nPath=" << (d / "TX.ini" / "production.db").string() << "\r\n";
       },
       kExitRecord},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(dir.path / "TX.ini", std::ios::binary) << kIni;
    c.arrange(dir.path);
    Open(/*autoGo=*/true);
    const auto code = station->Start();
    EXPECT_EQ(code, std::optional<int>(c.code)) << out.str() << err.str();
    EXPECT_TRUE(station->Finished());
    station.reset();
    other.Release();
  }
}

}  // namespace
}  // namespace korvel
