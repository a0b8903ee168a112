// korvel_bench_export [rows...] [--folder DIR]: the peak memory and time of
// `korvel-rf records --csv FILE` on a record of N rows, each export in a process of its own
// (its peak resident size is the figure), beside the same export holding every row in memory
// first, as the listing once did.
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Records.h"
#include "platform/AtomicFile.h"
#include "production/ProductionRecord.h"

namespace {

namespace fs = std::filesystem;

bool MakeRecord(const fs::path& db, long rows) {
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
                     "rx_version, settings_hash, given) VALUES('2026-12-08T10:15:00Z', "
                     "'2026-12-08 11:15:00', 'LINE3', '/line/TX.ini', ?1, ?2, 2209, ?3, ?4, ?5, "
                     "?6, 7119, 1338, 256, '5d41402abc4b2a76', ?7)",
                     -1, &insert, nullptr);
  char text[4][24];
  for (long i = 0; i < rows; ++i) {
    const bool pass = i % 20 != 0;
    std::snprintf(text[0], sizeof text[0], "3555%08lX", i);
    std::snprintf(text[1], sizeof text[1], "4B38%08lX", i);
    std::snprintf(text[2], sizeof text[2], "%06lX", (i + 1) & 0xFFFFFF);
    std::snprintf(text[3], sizeof text[3], "%06lX", (i + 0x800000) & 0xFFFFFF);
    sqlite3_bind_text(insert, 1, pass ? "PASS" : "FAIL", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 2, pass ? "" : "TX EEPROM 0x0C write not confirmed", -1,
                      SQLITE_STATIC);
    for (int k = 0; k < 4; ++k) sqlite3_bind_text(insert, 3 + k, text[k], -1, SQLITE_STATIC);
    sqlite3_bind_int(insert, 7, pass ? 1 : 0);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  return true;
}

// The peak resident size (KiB) and wall time (ms) of `work` in a child process.
std::pair<long, double> Measure(const std::function<int()>& work) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(work());
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {-1, ms};
  return {usage.ru_maxrss, ms};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> counts;
  fs::path folder = fs::temp_directory_path() / ("korvel-bench-export-" + std::to_string(getpid()));
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--folder" && i + 1 < argc)
      folder = argv[++i];
    else
      counts.push_back(std::atol(argv[i]));
  }
  if (counts.empty()) counts = {10000, 1000000};
  fs::create_directories(folder);
  std::printf("%10s %14s %12s %14s %12s %12s\n", "rows", "stream_peak_MB", "stream_ms",
              "whole_peak_MB", "whole_ms", "csv_MB");
  for (const long rows : counts) {
    const fs::path db = folder / ("export-" + std::to_string(rows) + ".db");
    const fs::path csv = folder / ("export-" + std::to_string(rows) + ".csv");
    fs::remove(db);
    if (!MakeRecord(db, rows)) return 1;
    const auto stream = Measure([&] {
      korvel::RecordsOptions options;
      options.db = db;
      options.csv = csv;
      std::ostringstream out, err;
      return korvel::RunRecords(options, out, err);
    });
    const auto size = fs::file_size(csv);
    const auto whole = Measure([&] {
      korvel::ProductionRecord record;
      if (!record.OpenToRead(db)) return 1;
      const auto all = record.Rows("");
      if (!all) return 1;
      std::string text = korvel::RecordCsvHeader();
      for (const auto& row : *all) text += korvel::RecordCsvLine(row);
      return korvel::WriteFileAtomically(csv, text) ? 0 : 1;
    });
    std::printf("%10ld %14.1f %12.0f %14.1f %12.0f %12.1f\n", rows, stream.first / 1024.0,
                stream.second, whole.first / 1024.0, whole.second, double(size) / 1e6);
    fs::remove(db);
    fs::remove(csv);
  }
  fs::remove_all(folder);
  return 0;
}
