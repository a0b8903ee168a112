// What the fleet database adds to each unit, and how many units one server takes.
//   korvel_bench_fleet URL [units] [folder]
// URL: a fresh database (db init is run on it); folder: where the stations' local records go
// (tmpfs keeps the local disk out of the figures). Reports, never asserts.
//
// 1. Per unit, on the operator's path: a station's record and fleet calls exactly as Go makes
//    them (the numbers from the leases, the row before the unit, the row after it with the
//    lease moving on, the mark that it is final), timed on the real clock, against the same
//    without a fleet database, at lease 1, 10 and 100. The rows go out on the station's sender
//    thread meanwhile; its time per row is reported apart.
// 2. Stations at once, each numbering units as fast as it can (lease 100): units per second
//    into the database, and each station's wait for its numbers (p99), as stations are added.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "VirtualHost.h"
#include "config/Settings.h"
#include "production/FleetLink.h"
#include "production/FleetSchema.h"
#include "production/NumberingLedger.h"
#include "production/ProductionRun.h"

namespace {

using namespace korvel;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
  double median = 0, p99 = 0, max = 0;
};

Figures Of(std::vector<double> ms) {
  if (ms.empty()) return {};
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)], ms.back()};
}

void Fail(const Status& status) {
  std::fprintf(stderr, "korvel_bench_fleet: %s\n", status.failure.English().c_str());
  std::exit(1);
}

// The generators of a default line: both serials on, custom link IDs.
void Number(NumberingLedger& ledger) {
  Generators& g = ledger.Gen();
  for (TProdSN* sn : {&g.RxSN, &g.TxSN}) {
    sn->SetIsSN(true);
    sn->SetIsDate(false);
    sn->SetFixSNByteCount(0);
    sn->SetIncInitSN(1);
  }
  g.RxSN.SetFixSNByteCount(1);
  g.RxSN.SetFixSN(0x41);
  g.TxSN.SetFixSNByteCount(1);
  g.TxSN.SetFixSN(0x42);
  g.RxRFID.SetIsRandom(false);
  g.RxRFID.SetIncInitRFID(0x101010);
  g.TxRFID.SetIsRandom(false);
  g.TxRFID.SetIncInitRFID(0x202020);
}

// One station without devices: the record and fleet calls of ProductionRun::Run, in order.
class Station {
 public:
  Station(const std::filesystem::path& folder, const std::string& url, const std::string& name,
          int lease)
      : fleet_(host_, record_), url_(url) {
    std::filesystem::create_directories(folder);
    for (const char* f : {"production.db", "production.db-wal", "production.db-shm"})
      std::filesystem::remove(folder / f);
    if (Status opened = record_.Open(folder / "production.db"); !opened) Fail(opened);
    Number(ledger_);
    settings_.PName = "Korvel Mouse";
    keys_ = SettingsKeys(settings_);
    hash_ = SettingsFingerprint(settings_);
    name_ = name;
    if (!url.empty())
      if (Status opened = fleet_.Open({url, name, lease}); !opened) Fail(opened);
  }
  // One passed unit; the milliseconds its record and numbering took on the operator's path.
  double Unit() {
    const auto start = Clock::now();
    const bool fleet = !url_.empty();
    UnitNumbers unit;
    FleetDraw draw;
    if (fleet) {
      if (Status drawn = fleet_.Draw(ledger_, unit, draw); !drawn) Fail(drawn);
    } else {
      unit = ledger_.Draw();
    }
    RecordRow row;
    row.station = name_;
    row.settingsFile = "/line/TX.ini";
    row.numbers = ToRecordNumbers(unit);
    row.settingsHash = hash_;
    row.settingsKeys = keys_;
    const Result<std::optional<GivenNumber>> given = record_.FindGiven(row.numbers);
    if (!given) Fail(given.status);
    const OutboxEntry entry = fleet_.Entry(draw);
    const Result<int64_t> id = record_.Begin(row, fleet ? &entry : nullptr);
    if (!id) Fail(id.status);
    if (Status done = record_.Finish(*id, "PASS", "", 2200, true,
                                     [&] { return fleet ? fleet_.Consume(draw) : Status(); });
        !done)
      Fail(done);
    if (fleet) fleet_.Consumed(draw);
    ledger_.Commit(unit);
    if (fleet) {
      if (Status ready = record_.MarkReady(*id, false); !ready) Fail(ready);
      fleet_.Kick();
    }
    return Ms(Clock::now() - start);
  }
  FleetLink& Fleet() { return fleet_; }
  const Generators& Gen() const { return ledger_.Gen(); }

 private:
  VirtualHost host_;
  ProductionRecord record_;
  NumberingLedger ledger_;
  FleetLink fleet_;
  Settings settings_;
  std::string url_, name_, keys_, hash_;
};

// Waits until the station's rows are all in the database.
void Drain(Station& station) {
  for (int i = 0; i < 100000 && station.Fleet().StatusFor(station.Gen()).backlog > 0; ++i)
    station.Fleet().SendNow();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: korvel_bench_fleet URL [units] [folder]\n");
    return 2;
  }
  const std::string url = argv[1];
  const int units = argc > 2 ? std::atoi(argv[2]) : 1000;
  const std::filesystem::path folder = argc > 3 ? argv[3] : "/dev/shm/korvel-bench-fleet";
  {
    PgSession db;
    if (Status c = db.Connect(url); !c) Fail(c);
    if (const Result<FleetInitReport> init = InitFleetDatabase(db, {}); !init) Fail(init.status);
  }
  std::printf("per unit on the operator's path, %d units (ms): median / p99 / max\n", units);
  {
    Station local(folder / "local", "", "local", 0);
    std::vector<double> ms;
    for (int i = 0; i < units; ++i) ms.push_back(local.Unit());
    const Figures f = Of(ms);
    std::printf("  local record only          %.3f / %.3f / %.3f\n", f.median, f.p99, f.max);
  }
  for (int lease : {1, 10, 100}) {
    Station station(folder / ("lease" + std::to_string(lease)), url,
                    "bench-lease-" + std::to_string(lease), lease);
    std::vector<double> ms;
    const auto start = Clock::now();
    for (int i = 0; i < units; ++i) ms.push_back(station.Unit());
    Drain(station);
    const double total = Ms(Clock::now() - start);
    const Figures f = Of(ms);
    std::printf(
        "  fleet, lease %-3d           %.3f / %.3f / %.3f   (all %d rows in the database "
        "after %.0f ms)\n",
        lease, f.median, f.p99, f.max, units, total);
  }
  std::printf("\nstations at once, lease 100, each as fast as it can, %d units each\n", units);
  std::printf("  stations  units/s into the database  wait for numbers p99 (ms)  max (ms)\n");
  for (int n : {1, 2, 4, 8, 16}) {
    std::vector<std::unique_ptr<Station>> stations;
    for (int s = 0; s < n; ++s)
      stations.push_back(std::make_unique<Station>(
          folder / ("many" + std::to_string(n) + "-" + std::to_string(s)), url,
          "bench-" + std::to_string(n) + "-" + std::to_string(s), 100));
    std::vector<std::vector<double>> waits(static_cast<size_t>(n));
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int s = 0; s < n; ++s)
      threads.emplace_back([&, s] {
        for (int i = 0; i < units; ++i) waits[size_t(s)].push_back(stations[size_t(s)]->Unit());
        Drain(*stations[size_t(s)]);
      });
    for (std::thread& t : threads) t.join();
    const double seconds = Ms(Clock::now() - start) / 1000;
    std::vector<double> all;
    for (const auto& w : waits) all.insert(all.end(), w.begin(), w.end());
    const Figures f = Of(all);
    std::printf("  %8d  %24.0f  %25.3f  %8.3f\n", n, n * units / seconds, f.p99, f.max);
  }
  return 0;
}
