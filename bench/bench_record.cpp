// What the production record adds to each unit: the check of its numbers, the row written
// before the unit and the row finished after it, as Go does them, timed on the real clock
// for 1,000 units on tmpfs and on disk, against the Set TX time of a default unit.
// Usage: korvel_bench_record [units] [disk folder] [tmpfs folder]. Reports, never asserts.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "EmulatedHid.h"
#include "EmulatedRx.h"
#include "VirtualHost.h"
#include "platform/Text.h"
#include "production/ProductionRecord.h"
#include "station/Station.h"
#include "ui/ScriptedView.h"

namespace {

using namespace korvel;

struct Figures {
  double median = 0, p90 = 0, max = 0;
};

Figures TimeRecord(const std::filesystem::path& folder, int units) {
  std::filesystem::create_directories(folder);
  for (const char* name : {"production.db", "production.db-wal", "production.db-shm"})
    std::filesystem::remove(folder / name);
  ProductionRecord record;
  if (const Status opened = record.Open(folder / "production.db"); !opened) {
    std::fprintf(stderr, "%s\n", opened.failure.English().c_str());
    return {};
  }
  std::vector<double> ms;
  for (int i = 0; i < units; ++i) {
    RecordRow row;
    row.station = "bench";
    row.settingsFile = (folder / "TX.ini").string();
    row.numbers = {"3555" + HexText(uint32_t(i), 8), "3556" + HexText(uint32_t(i), 8),
                   HexText(uint32_t(0x100000 + i), 6), HexText(uint32_t(0x200000 + i), 6)};
    row.settingsHash = "0123456789ABCDEF";
    const auto start = std::chrono::steady_clock::now();
    const auto given = record.FindGiven(row.numbers);
    const auto id = record.Begin(row);
    const Status finished = id ? record.Finish(*id, "PASS", "", 2200, true) : id.status;
    if (!given || !finished) {
      std::fprintf(stderr, "%s\n", (given ? finished : given.status).failure.English().c_str());
      return {};
    }
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back()};
}

// One default unit through Go on the emulator: its Set TX time (virtual, which the real clock
// matches within a few percent).
uint64_t DefaultUnitMs(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  for (const char* name : {"TX.ini", "production.db", "production.db-wal", "production.db-shm"})
    std::filesystem::remove(folder / name);
  VirtualHost host;
  EmulatedHidPlatform platform(host);
  MemoryLanguageStore language;
  ScriptedView view;
  Station station({.host = host,
                   .hid = platform,
                   .languageStore = language,
                   .workingDirectory = folder,
                   .randomSeed = 1},
                  view);
  station.Presenter().FormCreate({});
  station.Presenter().FormActivate();
  auto rx = std::make_shared<EmulatedRx>(host);
  auto tx = std::make_shared<EmulatedTx>();
  tx->SetPowered(true, host.TickCount());
  rx->SetTx(tx);
  platform.Attach(rx);
  host.RunUntil([&] { return station.Presenter().View()["btnGo"].enabled; }, 20000);
  station.Presenter().btnGoClick();
  return station.Go().LastRun().pass ? station.Go().LastRun().ms : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int units = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  const std::filesystem::path disk =
      argc > 2 ? argv[2] : std::filesystem::temp_directory_path() / "korvel-bench-record";
  const std::filesystem::path tmpfs = argc > 3 ? argv[3] : "/dev/shm/korvel-bench-record";
  const uint64_t unitMs = DefaultUnitMs(disk / "unit");
  std::printf("default unit: Set TX %llu ms\n", static_cast<unsigned long long>(unitMs));
  for (const auto& [name, folder] : {std::pair{"tmpfs", tmpfs}, std::pair{"disk", disk}}) {
    const Figures f = TimeRecord(folder, units);
    std::printf("%-5s %s: %d units, record per unit median %.3f ms, p90 %.3f ms, max %.3f ms", name,
                folder.string().c_str(), units, f.median, f.p90, f.max);
    if (unitMs)
      std::printf(" = %.3f %% of a default unit (median)", 100.0 * f.median / double(unitMs));
    std::printf("\n");
  }
  return 0;
}
