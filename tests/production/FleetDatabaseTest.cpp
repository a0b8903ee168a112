// The fleet database on a real PostgreSQL server: the schema and its upgrades, the rights of
// the three roles, and the leases (no number twice under concurrency, start values, returns,
// expiry, random IDs).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "FleetServer.h"
#include "production/FleetRecords.h"

namespace korvel {
namespace {

constexpr const char* kSerialSeries = "RXSN;date=0;fix=;inc=6";
constexpr const char* kSerialMax = "281474976710655";

struct Block {
  int64_t id = 0, lo = 0, hi = 0;
  std::vector<int64_t> taken;
};

// A lease as a station asks for one.
Result<Block> Lease(PgSession& db, const std::string& station, int count,
                    std::optional<int64_t> wish, const std::string& series = kSerialSeries,
                    const std::string& generator = "RXSN", const std::string& max = kSerialMax) {
  const Result<PgRows> rows = db.Query(
      Phrase::Literal("lease"),
      "SELECT lease_id, lo, hi, taken FROM korvel.lease_block($1::text, $2::text, $3::bigint, "
      "$4::text, $5::integer, $6::bigint)",
      {series, generator, max, station, std::to_string(count),
       wish ? PgParam(std::to_string(*wish)) : PgParam()});
  if (!rows) return rows.status;
  return Block{rows->Int(0, 0), rows->Int(0, 1), rows->Int(0, 2), rows->Ints(0, 3)};
}

std::vector<int64_t> Reserve(PgSession& db, const std::string& station,
                             const std::vector<int64_t>& ids) {
  const Result<PgRows> rows =
      db.Query(Phrase::Literal("reserve"),
               "SELECT granted FROM korvel.reserve_ids('RXRFID', 'RXRFID', 16777215, $1::text, "
               "$2::bigint[])",
               {station, PgIntArray(ids)});
  EXPECT_TRUE(rows) << rows.status.failure;
  return rows ? rows->Ints(0, 0) : std::vector<int64_t>();
}

std::string Return(PgSession& db, const std::string& station, int64_t lease, int64_t from) {
  const Result<PgRows> rows = db.Query(
      Phrase::Literal("return"), "SELECT korvel.return_lease($1::bigint, $2::text, $3::bigint)",
      {std::to_string(lease), station, std::to_string(from)});
  EXPECT_TRUE(rows) << rows.status.failure;
  return rows ? rows->Text(0, 0) : "";
}

TEST(FleetSchema, AStationFindsTheTablesOnlyAfterDbInitAndInitRunsEachUpgradeOnce) {
  test::FleetTestDb database(false);
  KORVEL_NEED_FLEET(database);
  PgSession& db = database.Admin();
  const Result<FleetIdentity> none = CheckFleetSchema(db);
  ASSERT_FALSE(none);
  EXPECT_NE(none.status.failure.English().find("run korvel-rf db init"), std::string::npos)
      << none.status.failure;
  EXPECT_FALSE(none.status.noAnswer);

  // Two inits at once (two engineers, two terminals): both succeed, each upgrade once.
  std::vector<Result<FleetInitReport>> reports(2);
  std::vector<std::thread> inits;
  for (auto& report : reports)
    inits.emplace_back([&database, &report] {
      PgSession own;
      if (Status c = own.Connect(database.Url()); !c) {
        report = c;
        return;
      }
      report = InitFleetDatabase(own, {});
    });
  for (std::thread& t : inits) t.join();
  for (const auto& report : reports) {
    ASSERT_TRUE(report) << report.status.failure;
    EXPECT_EQ(report->toVersion, kFleetSchemaVersion);
  }
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.schema_version"), kFleetSchemaVersion);
  const Result<FleetIdentity> found = CheckFleetSchema(db);
  ASSERT_TRUE(found) << found.status.failure;
  EXPECT_EQ(found->version, kFleetSchemaVersion);
  EXPECT_EQ(found->databaseUid.size(), 36u);

  const Result<FleetInitReport> again = InitFleetDatabase(db, {});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->fromVersion, kFleetSchemaVersion);

  // Tables of a newer program: this one neither writes them nor upgrades them backwards.
  ASSERT_TRUE(
      db.Exec(Phrase::Literal("newer"), "INSERT INTO korvel.schema_version(version) VALUES (" +
                                            std::to_string(kFleetSchemaVersion + 1) + ")"));
  const Result<FleetIdentity> newer = CheckFleetSchema(db);
  ASSERT_FALSE(newer);
  EXPECT_NE(newer.status.failure.English().find("newer than this program"), std::string::npos);
  EXPECT_FALSE(InitFleetDatabase(db, {}));
}

// The rights of each role, tried as a login user of that role.
TEST(FleetSchema, EachRoleHasItsRightsAndNoOthers) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  PgSession& admin = database.Admin();
  ASSERT_TRUE(admin.Exec(Phrase::Literal("users"), R"sql(
DO $$
DECLARE r text;
BEGIN
  FOREACH r IN ARRAY ARRAY['station', 'reader', 'admin'] LOOP
    BEGIN
      EXECUTE format('CREATE ROLE %I LOGIN IN ROLE %I', 'korvel_t_' || r, 'korvel_' || r);
    EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL;
    END;
  END LOOP;
END $$)sql"));
  const std::string insertUnit =
      "INSERT INTO korvel.units(station, record_uid, local_id, outbox_seq, pc, time_utc, "
      "time_local, settings_file, result, rx_serial, settings_hash, given) VALUES ('S1', 'r', "
      "$1::bigint, $1::bigint, 'pc', now(), '2026-12-08 10:00:00', '/TX.ini', 'PASS', "
      "$2::text, '00', true)";
  PgSession station;
  ASSERT_TRUE(station.Connect(database.Url("korvel_t_station")));
  ASSERT_TRUE(station.Exec(Phrase::Literal("seed"), insertUnit, {"1", "000000000001"}));

  const std::string lease = std::string("SELECT * FROM korvel.lease_block('") + kSerialSeries +
                            "', 'RXSN', " + kSerialMax + ", 'S1', 10, NULL)";
  const struct {
    const char* role;
    const char* what;
    std::string sql;
    bool allowed;
  } cases[] = {
      {"station", "read the line's rows", "SELECT count(*) FROM korvel.units", true},
      {"station", "lease a block", lease, true},
      {"station", "insert a row",
       "INSERT INTO korvel.settings(fingerprint, keys) VALUES ('01', 'PName=x')", true},
      {"station", "change a row", "UPDATE korvel.units SET result = 'FAIL'", false},
      {"station", "delete a row", "DELETE FROM korvel.units", false},
      {"station", "empty the rows", "TRUNCATE korvel.units CASCADE", false},
      {"station", "delete a given number", "DELETE FROM korvel.given_numbers", false},
      {"station", "move a counter back", "UPDATE korvel.series SET next_value = 0", false},
      {"station", "delete a lease", "DELETE FROM korvel.leases", false},
      {"station", "change a lease", "UPDATE korvel.leases SET state = 'returned'", false},
      {"station", "make a table", "CREATE TABLE korvel.mine(x integer)", false},
      {"reader", "read what became of the numbers", "SELECT count(*) FROM korvel.lease_usage",
       true},
      {"reader", "lease a block", lease, false},
      {"reader", "insert a row",
       "INSERT INTO korvel.settings(fingerprint, keys) VALUES ('02', 'PName=y')", false},
      {"reader", "delete a row", "DELETE FROM korvel.units", false},
      {"admin", "change a row", "UPDATE korvel.units SET failed_step = 'checked'", true},
      {"admin", "delete a lease nobody used", "DELETE FROM korvel.leases WHERE id = -1", true},
  };
  for (const auto& c : cases) {
    PgSession session;
    ASSERT_TRUE(session.Connect(database.Url(std::string("korvel_t_") + c.role)));
    const Status done = session.Exec(Phrase::Literal(c.what), c.sql);
    EXPECT_EQ(done.Ok(), c.allowed)
        << c.role << " may " << (c.allowed ? "" : "not ") << c.what << ": " << done.failure;
    // Refused for want of the right, not for anything else.
    if (!c.allowed) {
      EXPECT_EQ(session.LastState(), kPgInsufficientPrivilege) << c.what;
    }
  }
  EXPECT_EQ(database.Count("SELECT count(*) FROM korvel.units WHERE failed_step = 'checked'"), 1);
}

TEST(FleetLease, StationsLeasingAtOnceNeverShareANumber) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  constexpr int kStations = 8, kLeases = 60;
  std::vector<std::vector<Block>> got(kStations);
  std::vector<std::string> failures(kStations);
  std::vector<std::thread> stations;
  for (int s = 0; s < kStations; ++s)
    stations.emplace_back([&, s] {
      PgSession db;
      if (Status c = db.Connect(database.Url()); !c) {
        failures[size_t(s)] = c.failure.English();
        return;
      }
      for (int i = 0; i < kLeases; ++i) {
        // Sizes differ, and half the stations start from a restored (low) start value.
        const Result<Block> b = Lease(db, "S" + std::to_string(s), 1 + (i + s) % 7,
                                      s % 2 ? std::optional<int64_t>(1) : std::nullopt);
        if (!b) {
          failures[size_t(s)] = b.status.failure.English();
          return;
        }
        got[size_t(s)].push_back(*b);
      }
    });
  for (std::thread& t : stations) t.join();
  for (const std::string& f : failures) ASSERT_TRUE(f.empty()) << f;
  std::vector<Block> all;
  for (const auto& blocks : got) all.insert(all.end(), blocks.begin(), blocks.end());
  std::sort(all.begin(), all.end(), [](const Block& a, const Block& b) { return a.lo < b.lo; });
  ASSERT_EQ(all.size(), size_t(kStations * kLeases));
  // Each block starts where the one before ended: none overlaps, none leaves a hole.
  for (size_t i = 1; i < all.size(); ++i) ASSERT_EQ(all[i].lo, all[i - 1].hi + 1) << i;
  EXPECT_EQ(database.Count(std::string("SELECT next_value FROM korvel.series WHERE key = '") +
                           kSerialSeries + "'"),
            all.back().hi + 1);
  EXPECT_EQ(database.Count("SELECT holes FROM korvel.series_usage"), 0);
}

TEST(FleetLease, TheCounterContinuesAboveANumberGivenAndJumpsToAStartAboveIt) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  PgSession& db = database.Admin();
  // wish (the station's own next number), then the block it gets and what was jumped over.
  const struct {
    std::optional<int64_t> wish;
    int64_t lo, hi;
    int64_t skipped;
  } steps[] = {
      {100, 100, 109, 0},  // a new series starts where the first station stands
      {5, 110, 119, 0},    // a restored TX.ini: fresh numbers, not its old ones
      {std::nullopt, 120, 129, 0},
      {500, 500, 509, 370},  // a new start above everything given: it wins
      {120, 510, 519, 0},
  };
  for (const auto& step : steps) {
    const Result<Block> b = Lease(db, "S1", 10, step.wish);
    ASSERT_TRUE(b) << b.status.failure;
    EXPECT_EQ(b->lo, step.lo);
    EXPECT_EQ(b->hi, step.hi);
  }
  EXPECT_EQ(
      database.Count("SELECT coalesce(sum(size), 0) FROM korvel.leases WHERE kind = 'skipped'"),
      370);
  Status read = ForEachLease(db, "", [](const LeaseUsage& l) {
    if (l.kind == "skipped") {
      EXPECT_EQ(UnusedReason(l).English(),
                "370 skipped: a station's start value was above the counter");
    }
  });
  ASSERT_TRUE(read) << read.failure;
  EXPECT_EQ(database.Count("SELECT holes FROM korvel.series_usage"), 0);

  // A one-byte counter comes to its end: the station is told to set a new range.
  const Result<Block> last = Lease(db, "S1", 10, 250, "RXSN;date=1;fix=4B37;inc=1", "RXSN", "255");
  ASSERT_TRUE(last);
  EXPECT_EQ(last->hi, 255);
  const Result<Block> none =
      Lease(db, "S1", 10, std::nullopt, "RXSN;date=1;fix=4B37;inc=1", "RXSN", "255");
  ASSERT_FALSE(none);
  EXPECT_EQ(db.LastState(), kPgSeriesExhausted);
}

TEST(FleetLease, UnusedNumbersAreReturnedAndTheLastBlocksGoBackToTheCounter) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  PgSession& db = database.Admin();
  const Result<Block> a = Lease(db, "A", 10, 0);
  ASSERT_TRUE(a);
  // Nobody leased after A: what it did not use goes back and leaves no gap.
  EXPECT_EQ(Return(db, "A", a->id, 4), "taken back");
  const Result<Block> b = Lease(db, "B", 10, std::nullopt);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->lo, 4);
  const Result<Block> c = Lease(db, "C", 10, std::nullopt);
  ASSERT_TRUE(c);
  // B's tail cannot go back past C's block: it stays, returned, with its reason.
  EXPECT_EQ(Return(db, "B", b->id, 6), "returned");
  EXPECT_EQ(Return(db, "B", b->id, 6), "not held");
  EXPECT_EQ(Return(db, "A", c->id, 14), "not held");  // another station's block
  EXPECT_EQ(database.Count("SELECT next_value FROM korvel.series"), 24);
  bool seen = false;
  Status read = ForEachLease(db, "B", [&](const LeaseUsage& l) {
    seen = true;
    EXPECT_EQ(l.state, "returned");
    EXPECT_EQ(UnusedReason(l).English(),
              "8 returned unused at close; 2 not in the database yet: rows on their way");
  });
  ASSERT_TRUE(read && seen);
  EXPECT_EQ(database.Count("SELECT holes FROM korvel.series_usage"), 0);
}

TEST(FleetLease, AnExpiredLeaseIsReportedAsUnusedNumbersNotAsAHole) {
  test::FleetTestDb database(true, FleetInitOptions{1});
  KORVEL_NEED_FLEET(database);
  PgSession& db = database.Admin();
  const Result<Block> a = Lease(db, "A", 10, 1);
  ASSERT_TRUE(a);
  // One unit of it arrived; then the station went away.
  ASSERT_TRUE(db.Exec(Phrase::Literal("unit"),
                      "INSERT INTO korvel.units(station, record_uid, local_id, outbox_seq, pc, "
                      "time_utc, time_local, settings_file, result, settings_hash, given) VALUES "
                      "('A', 'r', 1, 1, 'pc', now(), '2026-12-08 10:00:00', '/TX.ini', 'PASS', "
                      "'00', true)"));
  ASSERT_TRUE(db.Exec(Phrase::Literal("given"),
                      "INSERT INTO korvel.given_numbers(series_id, value, unit_id) SELECT s.id, "
                      "1, u.id FROM korvel.series s, korvel.units u"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  // Too late to give back: the numbers are reported as what they are.
  EXPECT_EQ(Return(db, "A", a->id, 2), "expired");
  int leases = 0;
  Status read = ForEachLease(db, "", [&](const LeaseUsage& l) {
    ++leases;
    EXPECT_EQ(l.state, "expired");
    EXPECT_EQ(l.used, 1);
    EXPECT_EQ(UnusedReason(l).English(), "9 unused: the lease expired");
  });
  ASSERT_TRUE(read);
  EXPECT_EQ(leases, 1);
  EXPECT_EQ(database.Count("SELECT holes FROM korvel.series_usage"), 0);
}

TEST(FleetLease, RandomIdsAreReservedOnceAndNeverInsideAnotherStationsBlock) {
  test::FleetTestDb database;
  KORVEL_NEED_FLEET(database);
  PgSession& db = database.Admin();
  EXPECT_EQ(Reserve(db, "A", {0x101010, 0x202020, 0x303030}),
            (std::vector<int64_t>{0x101010, 0x202020, 0x303030}));
  EXPECT_EQ(Reserve(db, "B", {0x202020, 0x303030, 0x404040}), (std::vector<int64_t>{0x404040}));
  // A custom-ID station's block over them: it learns which it must pass over.
  const Result<Block> custom = Lease(db, "C", 100000, 0x200000, "RXRFID", "RXRFID", "16777215");
  ASSERT_TRUE(custom) << custom.status.failure;
  EXPECT_EQ(custom->taken, (std::vector<int64_t>{0x202020}));
  // ... and no random station gets an ID inside that block from now on.
  EXPECT_EQ(Reserve(db, "B", {0x210000, 0x350000}), (std::vector<int64_t>{0x350000}));
}

}  // namespace
}  // namespace korvel
