// One default unit through Go: its virtual duration against the floor the protocol sets,
// and the same run on the real clock (wall and CPU time). Reports, never asserts.
#include <benchmark/benchmark.h>

#include <ctime>
#include <map>

#include "EmulatedHid.h"
#include "EmulatedRx.h"
#include "VirtualHost.h"
#include "platform/SystemHost.h"
#include "station/Station.h"
#include "ui/ScriptedView.h"

namespace {

using namespace korvel;

// The station's host, counting every wait the core asks for.
class CountingHost : public Host {
 public:
  explicit CountingHost(Host& inner) : inner_(inner) {}
  uint64_t TickCount() override { return inner_.TickCount(); }
  void Sleep(uint32_t ms) override {
    if (counting) {
      sleptMs += ms;
      ++sleeps[ms];
    }
    inner_.Sleep(ms);
  }
  void ProcessMessages() override { inner_.ProcessMessages(); }
  std::unique_ptr<HostTimer> CreateTimer() override { return inner_.CreateTimer(); }
  bool counting = false;
  uint64_t sleptMs = 0;
  std::map<uint32_t, int> sleeps;

 private:
  Host& inner_;
};

std::filesystem::path BenchFolder() {
  auto dir = std::filesystem::temp_directory_path() / "korvel-bench";
  std::filesystem::create_directories(dir);
  for (const char* name : {"TX.ini", "production.db", "production.db-wal", "production.db-shm"})
    std::filesystem::remove(dir / name);
  return dir;
}

struct UnitFigures {
  bool pass = false;
  uint64_t setTxMs = 0;
  uint64_t sleptMs = 0;
  uint64_t sent = 0, fetched = 0;
  double cpuMs = 0;
};

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Plugs one default unit, lets detection open it and runs Go once.
UnitFigures OneUnit(Host& clock) {
  CountingHost host(clock);
  EmulatedHidPlatform platform(clock);
  auto rx = std::make_shared<EmulatedRx>(clock);
  auto tx = std::make_shared<EmulatedTx>();
  tx->SetPowered(true, clock.TickCount());
  rx->SetTx(tx);
  platform.Attach(rx);
  MemoryLanguageStore language;
  ScriptedView view;
  Station station({.host = host,
                   .hid = platform,
                   .languageStore = language,
                   .workingDirectory = BenchFolder(),
                   .randomSeed = 1},
                  view);
  station.Presenter().FormCreate({});
  station.Presenter().FormActivate();
  station.Presence().DetectionTick();
  const uint64_t sent0 = rx->ReportsReceived(), fetched0 = rx->ReportsFetched();
  host.counting = true;
  const double cpu0 = CpuMs();
  station.Presenter().btnGoClick();
  UnitFigures f;
  f.cpuMs = CpuMs() - cpu0;
  host.counting = false;
  f.pass = station.Go().LastRun().pass;
  f.setTxMs = station.Go().LastRun().ms;
  f.sleptMs = host.sleptMs;
  f.sent = rx->ReportsReceived() - sent0;
  f.fetched = rx->ReportsFetched() - fetched0;
  return f;
}

void BM_OneUnit_VirtualTime(benchmark::State& state) {
  UnitFigures f;
  for (auto _ : state) f = OneUnit(*std::make_unique<VirtualHost>());
  // The floor: every wait the protocol asks for plus 1 ms per feature-report transfer.
  const double floor = double(f.sleptMs + f.sent + f.fetched);
  state.counters["pass"] = f.pass;
  state.counters["virtual_ms"] = double(f.setTxMs);
  state.counters["floor_ms"] = floor;
  state.counters["virtual_over_floor"] = floor > 0 ? double(f.setTxMs) / floor : 0;
  state.counters["reports_sent"] = double(f.sent);
  state.counters["reports_fetched"] = double(f.fetched);
}
BENCHMARK(BM_OneUnit_VirtualTime)->Unit(benchmark::kMillisecond);

void BM_OneUnit_RealTime(benchmark::State& state) {
  UnitFigures f;
  for (auto _ : state) {
    SystemHost host;
    f = OneUnit(host);
  }
  state.counters["pass"] = f.pass;
  state.counters["wall_ms"] = double(f.setTxMs);
  state.counters["cpu_ms"] = f.cpuMs;
  state.counters["waits_ms"] = double(f.sleptMs);
}
BENCHMARK(BM_OneUnit_RealTime)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
