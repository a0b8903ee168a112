// korvel_bench_line [rows...] [--folder DIR] [--keep] [--fleet URL]: the line's page over HTTP on
// a record of N rows, made as a line of four stations makes it (2,740 runs a day, so 1,000,000
// rows is a year; about 3 % of units fail once and are retried, some twice), ending as today
// ends. Times the default page (today), its summary, today's CSV and the whole record's summary
// and CSV, served by `korvel-rf serve`'s own server and fetched by a client; then the default
// page again without the index of units, to show what it is for. Medians of five, after one
// unmeasured. With --fleet (a database of its own: db init is run on it and its units are
// replaced), the same rows go into the fleet database and the same answers are timed from it.
#include <httplib.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "Serve.h"
#include "production/FleetDatabase.h"
#include "production/FleetSchema.h"
#include "production/LocalDate.h"
#include "production/ProductionRecord.h"

namespace {

namespace fs = std::filesystem;

constexpr long kRunsPerDay = 2740;
constexpr int kStations = 4;

bool MakeRecord(const fs::path& db, long rows, std::string& firstDay) {
  korvel::ProductionRecord record;
  if (const korvel::Status opened = record.Open(db); !opened) {
    std::cerr << opened.failure << "\n";
    return false;
  }
  record.Close();
  sqlite3* raw = nullptr;
  sqlite3_open(db.c_str(), &raw);
  sqlite3_exec(raw, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(raw,
                     "INSERT INTO units(time_utc, time_local, station, settings_file, result, "
                     "failed_step, set_tx_ms, rx_serial, tx_serial, rx_id, tx_id, rx_vid, rx_pid, "
                     "rx_version, settings_hash, given) VALUES(?1, ?2, ?3, ?4, ?5, ?6, 2209, ?7, "
                     "?8, ?9, ?10, 7119, 1338, 256, '5d41402abc4b2a76', ?11)",
                     -1, &insert, nullptr);
  // The rows run to the end of today: the default page then has a whole day of them, as it
  // has at a day's end, its heaviest moment.
  const std::time_t now = std::time(nullptr);
  std::tm tomorrow = *std::localtime(&now);
  tomorrow.tm_mday += 1;
  tomorrow.tm_hour = tomorrow.tm_min = tomorrow.tm_sec = 0;
  tomorrow.tm_isdst = -1;
  const int64_t end = int64_t(std::mktime(&tomorrow)) - 1;
  const double step = 86400.0 / kRunsPerDay;  // seconds between two runs of the line
  const int64_t start = end - int64_t(double(rows) * step);
  firstDay = korvel::ProductionRecord::LocalText(start).substr(0, 10);
  const char* reasons[] = {"TX EEPROM 0x%02lX write not confirmed",
                           "RX register %ld read-back 0x%04lX != 0x5678",
                           "link not back after reload", "RX gone (errno %ld: No such device)"};
  long serial[kStations] = {};
  int retrying[kStations] = {};  // failed tries of the unit on the fixture
  uint32_t random = 12345;
  auto next = [&random] { return random = random * 1103515245u + 12345u; };
  char text[6][64];
  for (long i = 0; i < rows; ++i) {
    const int station = int(i % kStations);
    const int64_t at = start + int64_t(double(i) * step);
    // A failed unit's numbers come back to its retry; a unit fails at most three times.
    const bool fail = retrying[station] > 0 ? (next() >> 16) % 100 < 20 && retrying[station] < 3
                                            : (next() >> 16) % 100 < 3;
    if (retrying[station] == 0) ++serial[station];
    const long unit = serial[station] * kStations + station;
    retrying[station] = fail ? retrying[station] + 1 : 0;
    const std::string utc = korvel::ProductionRecord::UtcText(at);
    const std::string local = korvel::ProductionRecord::LocalText(at);
    std::snprintf(text[0], sizeof text[0], "LINE%d", station + 1);
    std::snprintf(text[1], sizeof text[1], "/line/LINE%d/TX.ini", station + 1);
    std::snprintf(text[2], sizeof text[2], reasons[(next() >> 16) % 4], long(next() >> 24) % 64,
                  long(next() >> 16) & 0xFFFF);
    std::snprintf(text[3], sizeof text[3], "3555%08lX", unit);
    std::snprintf(text[4], sizeof text[4], "4B38%08lX", unit);
    std::snprintf(text[5], sizeof text[5], "%06lX", unit & 0xFFFFFF);
    sqlite3_bind_text(insert, 1, utc.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, local.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, text[0], -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 4, text[1], -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 5, fail ? "FAIL" : "PASS", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 6, fail ? text[2] : "", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 7, text[3], -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 8, text[4], -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 9, text[5], -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 10, text[5], -1, SQLITE_STATIC);
    sqlite3_bind_int(insert, 11, fail ? 0 : 1);
    if (sqlite3_step(insert) != SQLITE_DONE) {
      std::cerr << "insert: " << sqlite3_errmsg(raw) << "\n";
      return false;
    }
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(raw, "COMMIT; PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  return true;
}

// The record's rows as the fleet's units, 10,000 to a statement; the line's indexes are made
// afterwards, by db init, as on a database that had rows before them (timed).
bool CopyToFleet(const fs::path& db, const std::string& url, double& indexSeconds) {
  korvel::PgSession fleet;
  const auto fail = [](const korvel::Status& status) {
    std::cerr << status.failure << "\n";
    return false;
  };
  if (const korvel::Status c = fleet.Connect(url); !c) return fail(c);
  if (const auto init = korvel::InitFleetDatabase(fleet, {}); !init) return fail(init.status);
  const korvel::Phrase what = korvel::Phrase::Literal("the bench's rows");
  std::string drop = "TRUNCATE korvel.units CASCADE";
  for (const char* index : korvel::kFleetLineIndexes)
    drop += std::string("; DROP INDEX IF EXISTS korvel.") + index;
  if (const korvel::Status emptied = fleet.Exec(what, drop); !emptied) return fail(emptied);

  sqlite3* raw = nullptr;
  sqlite3_open_v2(db.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(
      raw,
      "SELECT id, station, time_utc, time_local, settings_file, result, failed_step, "
      "set_tx_ms, rx_serial, tx_serial, rx_id, tx_id, settings_hash, given FROM "
      "units ORDER BY id",
      -1, &select, nullptr);
  constexpr int kColumns = 14;
  constexpr size_t kBatch = 10000;
  std::vector<std::vector<std::string>> columns(kColumns);
  const auto flush = [&]() -> korvel::Status {
    if (columns[0].empty()) return {};
    std::vector<korvel::PgParam> params;
    for (auto& column : columns) {
      params.emplace_back(korvel::PgTextArray(column));
      column.clear();
    }
    return fleet.Exec(
        what,
        "INSERT INTO korvel.units(id, station, record_uid, local_id, outbox_seq, pc, time_utc, "
        "time_local, settings_file, result, failed_step, set_tx_ms, rx_serial, tx_serial, rx_id, "
        "tx_id, rx_vid, rx_pid, rx_version, settings_hash, given) SELECT id, station, 'bench', "
        "id, id, station, time_utc, time_local, settings_file, result, failed_step, set_tx_ms, "
        "rx_serial, tx_serial, rx_id, tx_id, 7119, 1338, 256, settings_hash, given = 1 FROM "
        "unnest($1::bigint[], $2::text[], $3::timestamptz[], $4::text[], $5::text[], $6::text[], "
        "$7::text[], $8::bigint[], $9::text[], $10::text[], $11::text[], $12::text[], "
        "$13::text[], $14::integer[]) AS r(id, station, time_utc, time_local, settings_file, "
        "result, failed_step, set_tx_ms, rx_serial, tx_serial, rx_id, tx_id, settings_hash, "
        "given)",
        params);
  };
  korvel::Status copied;
  while (copied && sqlite3_step(select) == SQLITE_ROW) {
    for (int c = 0; c < kColumns; ++c) {
      const unsigned char* text = sqlite3_column_text(select, c);
      columns[size_t(c)].emplace_back(text ? reinterpret_cast<const char*>(text) : "");
    }
    if (columns[0].size() == kBatch) copied = flush();
  }
  if (copied) copied = flush();
  sqlite3_finalize(select);
  sqlite3_close(raw);
  if (!copied) return fail(copied);
  // As the server's autovacuum leaves a table that took many rows: counted, its pages known
  // to be visible.
  if (const korvel::Status vacuumed = fleet.Exec(what, "VACUUM ANALYZE korvel.units"); !vacuumed)
    return fail(vacuumed);
  const auto indexed = std::chrono::steady_clock::now();
  if (const auto init = korvel::InitFleetDatabase(fleet, {}); !init) return fail(init.status);
  indexSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - indexed).count();
  return true;
}

struct Timing {
  double medianMs = 0;
  size_t bytes = 0;
  int status = 0;
};

Timing Time(httplib::Client& client, const std::string& path) {
  std::vector<double> ms;
  Timing timing;
  for (int i = 0; i < 6; ++i) {
    const auto start = std::chrono::steady_clock::now();
    auto reply = client.Get(path);
    const double took =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!reply) return timing;
    timing.status = reply->status;
    timing.bytes = reply->body.size();
    if (i > 0) ms.push_back(took);
  }
  std::sort(ms.begin(), ms.end());
  timing.medianMs = ms[ms.size() / 2];
  return timing;
}

void Report(long rows, const char* reader, const std::string& what, const Timing& t) {
  std::printf("%9ld rows  %-6s %-44s %9.1f ms  %10zu bytes  (HTTP %d)\n", rows, reader,
              what.c_str(), t.medianMs, t.bytes, t.status);
  std::fflush(stdout);
}

bool Bench(const fs::path& folder, long rows, bool keep, const std::string& fleetUrl) {
  const fs::path db = folder / ("line-" + std::to_string(rows) + ".db");
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db.string() + suffix);
  std::string firstDay;
  const auto made = std::chrono::steady_clock::now();
  if (!MakeRecord(db, rows, firstDay)) return false;
  std::printf("%9ld rows  made in %.1f s, %.1f MB (%s to today)\n", rows,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - made).count(),
              double(fs::file_size(db)) / 1e6, firstDay.c_str());

  auto serve = [&](const std::string& where, const char* reader, const char* label) {
    korvel::ServeOptions options;
    options.db = where;
    options.port = 0;
    korvel::LineServer server(options);
    if (const korvel::Status bound = server.Bind(); !bound) {
      std::cerr << bound.failure << "\n";
      return false;
    }
    std::thread running([&server] { server.Run(); });
    httplib::Client client("127.0.0.1", server.Port());
    client.set_read_timeout(600, 0);
    const std::string all = "since=" + firstDay;
    if (std::string(label).empty()) {
      Report(rows, reader, "page, today (/)", Time(client, "/"));
      Report(rows, reader, "summary, today (/api/summary.json)", Time(client, "/api/summary.json"));
      Report(rows, reader, "latest 50 units, today (/api/units.json)",
             Time(client, "/api/units.json"));
      Report(rows, reader, "CSV, today (/units.csv)", Time(client, "/units.csv"));
      Report(rows, reader, "page, whole record (/?" + all + ")", Time(client, "/?" + all));
      Report(rows, reader, "CSV, whole record (/units.csv?" + all + ")",
             Time(client, "/units.csv?" + all));
    } else {
      Report(rows, reader, std::string("page, today, ") + label, Time(client, "/"));
    }
    server.Stop();
    running.join();
    return true;
  };
  if (!serve(db.string(), "sqlite", "")) return false;
  if (!fleetUrl.empty()) {
    const auto copied = std::chrono::steady_clock::now();
    double indexSeconds = 0;
    if (!CopyToFleet(db, fleetUrl, indexSeconds)) return false;
    std::printf(
        "%9ld rows  fleet: copied in %.1f s, the line's indexes made by db init in %.1f s\n", rows,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - copied).count(),
        indexSeconds);
    if (!serve(fleetUrl, "fleet", "")) return false;
  }
  if (keep) {
    std::printf("%9ld rows  kept in %s%s\n", rows, db.string().c_str(),
                fleetUrl.empty() ? "" : " and the fleet database");
    return true;
  }
  // What the index of units is for: without it, each unit of the day is looked for in the
  // whole record.
  sqlite3* raw = nullptr;
  sqlite3_open(db.c_str(), &raw);
  sqlite3_exec(raw, "DROP INDEX units_by_unit", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  if (!serve(db.string(), "sqlite", "without units_by_unit")) return false;
  if (!fleetUrl.empty()) {
    korvel::PgSession fleet;
    if (const korvel::Status c = fleet.Connect(fleetUrl); !c) {
      std::cerr << c.failure << "\n";
      return false;
    }
    if (const korvel::Status dropped =
            fleet.Exec(korvel::Phrase::Literal("drop"), "DROP INDEX korvel.units_by_unit");
        !dropped) {
      std::cerr << dropped.failure << "\n";
      return false;
    }
    if (!serve(fleetUrl, "fleet", "without units_by_unit")) return false;
  }
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db.string() + suffix);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes;
  fs::path folder = fs::temp_directory_path();
  bool keep = false;
  std::string fleetUrl;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--folder" && i + 1 < argc)
      folder = argv[++i];
    else if (a == "--fleet" && i + 1 < argc)
      fleetUrl = argv[++i];
    else if (a == "--keep")
      keep = true;
    else
      sizes.push_back(std::stol(a));
  }
  if (sizes.empty()) sizes = {10000, 1000000};
  for (long rows : sizes)
    if (!Bench(folder, rows, keep, fleetUrl)) return 1;
  return 0;
}
