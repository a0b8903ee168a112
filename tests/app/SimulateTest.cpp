#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "EmulatedHid.h"
#include "EmulatedRx.h"
#include "Next.h"
#include "Records.h"
#include "Simulate.h"
#include "TempDir.h"
#include "platform/AtomicFile.h"
#include "platform/FileLock.h"
#include "production/ProductionRecord.h"

namespace korvel {
namespace {

class SimulateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A fresh record too: numbers a PASS gave stay given otherwise.
    for (const char* name : {"production.db", "production.db-wal", "production.db-shm"})
      std::filesystem::remove(dir.path / name);
    std::ofstream(Ini(), std::ios::binary)
        << "[TX]\r\n"
           "RXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = "
           "19255;  "
           "IncSNByteCount = 2;  IsFixAscii = True;end;\r\n"
           "TXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = "
           "19256;  "
           "IncSNByteCount = 2;  IsFixAscii = True;end;\r\n"
           "RXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 3289908;end;\r\n"
           "TXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 4342596;end;\r\n";
  }
  std::filesystem::path Ini() const { return dir.path / "TX.ini"; }
  int Run(int units, const std::string& fault = "", bool json = false,
          const std::filesystem::path& db = {}) {
    out.str("");
    err.str("");
    SimulateOptions options;
    options.ini = Ini();
    options.db = db;
    options.units = units;
    options.date = LocalDate{2026, 12, 7};
    options.fault = fault;
    if (json) options.json = dir.path / "units.json";
    return RunSimulate(options, out, err);
  }
  std::string Bytes(const std::filesystem::path& path) {
    const auto read = ReadWholeFile(path);
    return read ? read->bytes : std::string();
  }
  test::TempDir dir;
  std::ostringstream out, err;
};

TEST_F(SimulateTest, ThreeUnitsPassWithConsecutiveNumbersAndTheFileContinues) {
  ASSERT_EQ(Run(3, "", true), 0) << err.str();
  const std::regex line(
      R"(unit=(\d) result=PASS ms=(\d+) rxsn=3555-4B37-000(\d) txsn=3555-4B38-000(\d) rxid=(\w{6}) txid=(\w{6}) ready_ms=(\d+) cycle_ms=(\d+))");
  std::istringstream lines(out.str());
  std::string text;
  int unit = 0;
  while (std::getline(lines, text) && text.rfind("summary ", 0) != 0) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    ++unit;
    EXPECT_EQ(std::stoi(m[1]), unit);
    EXPECT_GT(std::stoi(m[2]), 1000);
    EXPECT_EQ(std::stoi(m[3]), unit);
    EXPECT_EQ(std::stoi(m[4]), unit);
    EXPECT_EQ(std::stoul(m[5].str(), nullptr, 16), 0x323334u + unit - 1);
    EXPECT_EQ(std::stoul(m[6].str(), nullptr, 16), 0x424344u + unit - 1);
    // Found on the bus's word within half a second; the cycle holds the run itself.
    EXPECT_LE(std::stoi(m[7]), 500);
    EXPECT_GE(std::stoi(m[8]), std::stoi(m[7]) + std::stoi(m[2]));
  }
  EXPECT_EQ(unit, 3);
  EXPECT_EQ(
      text.rfind("summary units=3 pass=3 hotplug=on operator_delay_ms=1000 mean_ready_ms=", 0), 0u)
      << text;
  const std::string json = Bytes(dir.path / "units.json");
  EXPECT_EQ(json.rfind("{\"units\":[{\"unit\":1,\"result\":\"PASS\"", 0), 0u);
  // After the run the emulated TX holds its ID at 0x0C..0x0E: 0xB2 0x33 0x34 for unit 1.
  EXPECT_NE(json.find("\"tx_eeprom\":["), std::string::npos);
  EXPECT_EQ(std::count(json.begin(), json.end(), '['), 1 + 3 * 4);
  // The next simulation continues from the fourth unit.
  ASSERT_EQ(Run(1), 0);
  EXPECT_NE(out.str().find("rxsn=3555-4B37-0004"), std::string::npos) << out.str();
}

TEST_F(SimulateTest, AFaultFailsEveryUnitAndLeavesTheNumbering) {
  ASSERT_EQ(Run(2, "no-link-after-reload"), 0);
  const std::string text = out.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);  // two units and the summary
  EXPECT_NE(text.find("unit=1 result=FAIL"), std::string::npos) << text;
  EXPECT_NE(text.find("unit=2 result=FAIL"), std::string::npos) << text;
  EXPECT_EQ(text.find("PASS"), std::string::npos);
  ASSERT_EQ(Run(1), 0);
  EXPECT_NE(out.str().find("rxsn=3555-4B37-0001"), std::string::npos) << out.str();
}

TEST_F(SimulateTest, EachFaultFailsWithItsOwnReason) {
  const std::regex failed(R"re(unit=1 result=FAIL reason="([^"]+)" ms=\d+ .*)re");
  std::map<std::string, std::string> reasons;
  for (const std::string& fault : EmulatedRx::FaultNames()) {
    SetUp();  // the same numbering for each
    ASSERT_EQ(Run(1, fault, true), 0) << fault;
    std::smatch m;
    const std::string line = out.str().substr(0, out.str().find('\n'));
    if (fault == "low-battery") {
      // The mouse is programmed; the battery message goes to the operator.
      EXPECT_EQ(line.rfind("unit=1 result=PASS ms=", 0), 0u) << line;
      EXPECT_NE(err.str().find("Battery Low Power"), std::string::npos);
      continue;
    }
    ASSERT_TRUE(std::regex_match(line, m, failed)) << fault << ": " << line;
    reasons[fault] = m[1];
    EXPECT_NE(Bytes(dir.path / "units.json").find("\"reason\":\"" + reasons[fault] + "\""),
              std::string::npos)
        << fault;
  }
  EXPECT_NE(reasons["rx-gone"].find(": RX gone (" + OsErrorText(kEmulatedGoneError) + ")"),
            std::string::npos);
  EXPECT_NE(reasons["transfer-refused"].find(": transfer refused (" +
                                             OsErrorText(kEmulatedRefusedError) + ")"),
            std::string::npos);
  EXPECT_EQ(reasons["readback-mismatch"].rfind("RX register 0 read-back 0x", 0), 0u);
  EXPECT_EQ(reasons["tx-eeprom-mismatch"], "TX EEPROM 0x08 write not confirmed");
  EXPECT_NE(reasons["tx-flaky"].find("TX EEPROM 0x"), std::string::npos);
  EXPECT_EQ(reasons["no-link-after-reload"], "link not back after reload");
  EXPECT_NE(reasons["answers-never-valid"].find("the RX does not answer its link query either"),
            std::string::npos);
  // A mouse that is off and one out of range are alike on the air: the same reason, which
  // is not the one of an RX that answers nothing.
  EXPECT_NE(reasons["tx-off"].find("the TX is off or out of range"), std::string::npos);
  EXPECT_EQ(reasons["tx-off"], reasons["tx-out-of-range"]);
  std::set<std::string> distinct;
  for (const auto& [fault, reason] : reasons)
    if (fault != "tx-out-of-range") distinct.insert(reason);
  EXPECT_EQ(distinct.size(), reasons.size() - 1);
}

TEST_F(SimulateTest, ABadFileIsExitCodeOne) {
  std::ofstream(Ini(), std::ios::binary)
      << "[TX]\r\nRXSNINFO=object TProdSN; IsSN = Maybe; end;\r\n";
  EXPECT_EQ(Run(1), 1);
  EXPECT_NE(err.str().find("RXSNINFO"), std::string::npos) << err.str();
  EXPECT_EQ(out.str(), "");
}

TEST_F(SimulateTest, EveryPassLineHasItsRowInTheRecordAndTheCsvListsThem) {
  ASSERT_EQ(Run(2), kExitDone) << err.str();
  ASSERT_EQ(Run(1, "no-link-after-reload"), kExitDone);
  std::ostringstream csv, listErr;
  RecordsOptions list;
  list.db = dir.path / "production.db";
  list.csv = "-";
  ASSERT_EQ(RunRecords(list, csv, listErr), kExitDone) << listErr.str();
  std::istringstream lines(csv.str());
  std::string header, row;
  std::getline(lines, header);
  EXPECT_EQ(header, RecordCsvHeader().substr(0, RecordCsvHeader().size() - 2) + "\r");
  std::vector<std::string> rows;
  while (std::getline(lines, row)) rows.push_back(row);
  ASSERT_EQ(rows.size(), 3u) << csv.str();
  EXPECT_NE(rows[0].find(",PASS,,"), std::string::npos) << rows[0];
  EXPECT_NE(rows[0].find(",35554B370001,35554B380001,323334,424344,1BCF,053A,"), std::string::npos)
      << rows[0];
  EXPECT_NE(rows[1].find(",35554B370002,35554B380002,"), std::string::npos) << rows[1];
  EXPECT_NE(rows[2].find(",FAIL,link not back after reload,"), std::string::npos) << rows[2];
  // The failed unit's numbers are offered again and were not given.
  EXPECT_TRUE(rows[2].ends_with(",0\r")) << rows[2];

  // The listing form and a date filter.
  std::ostringstream text;
  list.csv.reset();
  list.since = "2999-01-01";
  ASSERT_EQ(RunRecords(list, text, listErr), kExitDone);
  EXPECT_EQ(text.str(), "");
  list.db = dir.path / "none.db";
  EXPECT_EQ(RunRecords(list, text, listErr), kExitRecord);
  EXPECT_FALSE(std::filesystem::exists(dir.path / "none.db"));
  // Listing an empty file leaves it empty; it is no record.
  std::ofstream(dir.path / "empty.db", std::ios::binary).flush();
  list.db = dir.path / "empty.db";
  EXPECT_EQ(RunRecords(list, text, listErr), kExitRecord);
  EXPECT_EQ(std::filesystem::file_size(dir.path / "empty.db"), 0u);

  // An export never lands on the record or the settings: only on a .csv or a new file.
  list.db = dir.path / "production.db";
  list.since.clear();
  const std::string settings = Bytes(Ini());
  for (const std::filesystem::path& target : {dir.path / "production.db", Ini()}) {
    list.csv = target;
    EXPECT_EQ(RunRecords(list, text, listErr), kExitUsage) << target;
  }
  EXPECT_EQ(Bytes(Ini()), settings);
  list.csv = dir.path / "day.csv";
#ifndef _WIN32
  // A link planted at the old temporary name is never written through.
  std::filesystem::create_symlink(Ini(), dir.path / "day.csv.tmp");
#endif
  ASSERT_EQ(RunRecords(list, text, listErr), kExitDone) << listErr.str();
  ASSERT_EQ(RunRecords(list, text, listErr), kExitDone);  // the last export is replaced
  EXPECT_EQ(Bytes(dir.path / "day.csv"), csv.str());
  EXPECT_EQ(Bytes(Ini()), settings);
#ifndef _WIN32
  EXPECT_FALSE(std::filesystem::is_symlink(dir.path / "day.csv"));
  // The export's own name a link: refused, named.
  std::filesystem::create_symlink(Ini(), dir.path / "link.csv");
  list.csv = dir.path / "link.csv";
  listErr.str("");
  EXPECT_EQ(RunRecords(list, text, listErr), kExitUsage);
  EXPECT_NE(listErr.str().find("link.csv is a symbolic link"), std::string::npos) << listErr.str();
  EXPECT_EQ(Bytes(Ini()), settings);
#endif
  std::ostringstream again;
  list.csv = "-";
  ASSERT_EQ(RunRecords(list, again, listErr), kExitDone);  // the record still reads
}

TEST_F(SimulateTest, AnotherStationOnTheFileOrNoRecordStopsBeforeAnyUnit) {
  {
    FileLock held;
    ASSERT_TRUE(held.Acquire(dir.path / "TX.ini.lock", "korvel-rf-tool, pid 99"));
    EXPECT_EQ(Run(1), kExitInUse);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("in use by another station (korvel-rf-tool, pid 99)"),
              std::string::npos)
        << err.str();
    NextOptions next;
    next.ini = Ini();
    next.commit = true;
    std::ostringstream nextOut, nextErr;
    EXPECT_EQ(RunNext(next, nextOut, nextErr), kExitInUse);
  }
  EXPECT_EQ(Run(1, "", false, dir.path / "no-such-folder" / "production.db"), kExitRecord);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("cannot open the production record"), std::string::npos) << err.str();
}

TEST_F(SimulateTest, AnUnsoundGeneratorIsExitCodeOne) {
  std::ofstream(Ini(), std::ios::binary)
      << "[TX]\r\nTXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  "
         "IncSNByteCount = 2;  IncCurrentSN = 74565;  IsFixAscii = True;end;\r\n";
  EXPECT_EQ(Run(1), kExitBadSettings);
  EXPECT_NE(err.str().find("TXSNINFO: IncCurrentSN = 74565 does not fit in 2 bytes"),
            std::string::npos)
      << err.str();
}

TEST_F(SimulateTest, TheOperatorsCycleWithAndWithoutTheHotPlugWord) {
  SimulateOptions options;
  options.ini = Ini();
  options.units = 4;
  options.date = LocalDate{2026, 12, 7};
  ASSERT_EQ(RunSimulate(options, out, err), kExitDone) << err.str();
  const std::regex summary(
      R"(summary units=4 pass=4 hotplug=(on|off) operator_delay_ms=1000 mean_ready_ms=(\d+) mean_cycle_ms=(\d+) units_per_hour=(\d+)\n)");
  std::smatch with, without;
  const std::string withText = out.str().substr(out.str().find("summary"));
  ASSERT_TRUE(std::regex_match(withText, with, summary)) << withText;
  EXPECT_EQ(with[1], "on");
  EXPECT_LT(std::stoi(with[2]), 600);

  out.str("");
  options.hotPlug = false;
  ASSERT_EQ(RunSimulate(options, out, err), kExitDone) << err.str();
  const std::string withoutText = out.str().substr(out.str().find("summary"));
  ASSERT_TRUE(std::regex_match(withoutText, without, summary)) << withoutText;
  EXPECT_EQ(without[1], "off");
  // The timer's wait, and a dongle swapped within one interval going unseen until replugged.
  EXPECT_GT(std::stoi(without[2]), 2000);
  EXPECT_GT(std::stoi(with[4]), 2 * std::stoi(without[4]));

  // An operator who plugs the next dongle the moment the last one is out.
  out.str("");
  options.hotPlug = true;
  options.operatorDelayMs = 0;
  ASSERT_EQ(RunSimulate(options, out, err), kExitDone) << err.str();
  const std::string quick = out.str().substr(out.str().find("summary"));
  std::smatch fast;
  const std::regex quickSummary(
      R"(summary units=4 pass=4 hotplug=on operator_delay_ms=0 mean_ready_ms=(\d+) .*\n)");
  ASSERT_TRUE(std::regex_match(quick, fast, quickSummary)) << quick;
  EXPECT_LT(std::stoi(fast[1]), 600);
}

TEST_F(SimulateTest, AFolderThatIsNotThereOrAReportThatCannotBeWrittenStopsBeforeAnyUnit) {
  SimulateOptions options;
  options.ini = dir.path / "missing" / "TX.ini";
  EXPECT_EQ(RunSimulate(options, out, err), kExitBadSettings);  // not "in use"
  EXPECT_EQ(err.str().find("Close the other station"), std::string::npos) << err.str();
  options.ini = Ini();
  options.json = dir.path / "missing" / "units.json";
  const std::string before = Bytes(Ini());
  EXPECT_EQ(RunSimulate(options, out, err), kExitUsage);
  EXPECT_EQ(Bytes(Ini()), before);
}

}  // namespace
}  // namespace korvel
