#include "Simulate.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "DeviceImages.h"
#include "EmulatedHid.h"
#include "EmulatedNeighbours.h"
#include "EmulatedRx.h"
#include "Next.h"
#include "UnitLine.h"
#include "VirtualHost.h"
#include "platform/Text.h"
#include "production/FleetDatabase.h"
#include "station/Station.h"
#include "ui/ScriptedView.h"

namespace korvel {

namespace {
struct UnitReport {
  UnitOutcome outcome;
  DeviceImages images;
  int64_t readyMs = -1;  // plug to both sides ready; -1 never
  uint64_t cycleMs = 0;  // plug to the result
  int replugs = 0;
};

// How long an operator waits for "Ready" before pulling the dongle and plugging it again.
constexpr uint64_t kOperatorPatienceMs = 12000;
constexpr uint64_t kReplugGapMs = 6000;

// Why Go was not even pressed: the side that was not ready.
std::string NotReadyReason(Station& station) {
  if (!station.Presence().Ready().rx) return "Go not enabled: RX not ready";
  if (!station.Presence().Ready().tx) return "Go not enabled: TX not ready";
  return "Go not enabled";
}
}  // namespace

int RunSimulate(const SimulateOptions& options, std::ostream& out, std::ostream& err) {
  // The file is checked first, exactly as the window would load it.
  {
    Settings settings;
    NumberingLedger ledger;
    VidPidTableType table{};
    if (!LoadSettingsForCli(options.ini, settings, ledger, table, err)) return kExitBadSettings;
  }

  // A report that cannot be written is found before any unit is numbered.
  if (options.json) {
    std::ofstream probe(*options.json, std::ios::binary | std::ios::app);
    if (!probe) {
      err << "korvel-rf: cannot write " << options.json->string() << "\n";
      return kExitUsage;
    }
  }
  VirtualHost host;
  EmulatedHidPlatform platform(host);
  AttachTypicalNeighbours(platform);
  // The simulation never touches the operator's saved language.
  MemoryLanguageStore language;
  // No window: messages go to the error stream, dialogs are answered as an operator would.
  ScriptedView view;
  view.onMessage = [&err](const std::string& dialog, const std::string& text) {
    std::string oneLine = text;
    for (char& c : oneLine)
      if (c == '\r' || c == '\n') c = ' ';
    // The window's dialog, in words the companion's reader knows.
    const std::string kind = dialog == "dlgError"  ? "error"
                             : dialog == "dlgBat"  ? "battery"
                             : dialog == "dlgBind" ? "connect"
                                                   : "message";
    err << "korvel-rf: " << kind << ": " << oneLine << "\n";
  };
  StationEnvironment env{
      .host = host,
      .hid = platform,
      .languageStore = language,
      .workingDirectory = options.ini.parent_path().empty() ? "." : options.ini.parent_path(),
      .killOtherInstances = nullptr,
      .randomSeed = 1,
      .iniPath = options.ini,
      .date = nullptr,
      // No external tool and no loader in a simulation.
      .startProgram = [](const std::string&) { return false; },
      .reportToLoader = [](const std::string&) { return false; },
      .recordPath = IsFleetUrl(options.db.string()) ? std::filesystem::path() : options.db,
      .fleetUrl = IsFleetUrl(options.db.string()) ? options.db.string() : std::string(),
      .program = "korvel-rf simulate",
  };
  if (options.date) {
    const LocalDate date = *options.date;
    env.date = [date] { return date; };
  }
  std::unique_ptr<HotPlugSource> hotPlug;
  if (options.hotPlug) hotPlug = platform.CreateHotPlugSource();
  env.hotPlug = hotPlug.get();
  Station station(env, view);
  StationPresenter& window = station.Presenter();
  window.FormCreate({});
  window.FormActivate();
  // Another station on this TX.ini, or no record to write: production would only refuse.
  if (!station.File().Claimed())
    return station.File().HeldElsewhere() ? kExitInUse : kExitBadSettings;
  if (!station.Production().Record().IsOpen()) return kExitRecord;

  std::vector<UnitReport> reports;
  std::mt19937 operatorJitter(1);
  const uint64_t lineStart = host.TickCount();
  auto bothReady = [&] { return station.Presence().Ready().rx && station.Presence().Ready().tx; };
  for (int unit = 1; unit <= options.units; ++unit) {
    EmulatedRx::Config config;
    config.seed = uint32_t(unit);
    config.instance = unit;
    auto rx = std::make_shared<EmulatedRx>(host, config);
    auto tx = std::make_shared<EmulatedTx>();
    tx->SetPowered(true, host.TickCount());
    rx->SetTx(tx);
    UnitReport report;
    report.outcome.unit = unit;
    report.images.rxBefore = rx->Registers();
    report.images.txBefore = tx->EepromBytes();

    const uint64_t plugAt = host.TickCount();
    const auto waitUntil =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.waitFleetSeconds);
    bool waited = false;
    for (int attempt = 0;; ++attempt) {
      platform.Attach(rx);
      // The operator waits for the station; one not ready in time gets the dongle replugged.
      auto opened = [&] { return bothReady() || (station.Link().HaveRx() && !rx->Linked()); };
      while (!host.RunUntil(opened, kOperatorPatienceMs, 5) && report.replugs < 3) {
        // Pulled for longer than one detection interval, so the pull itself is seen.
        platform.Detach(rx.get());
        host.RunFor(kReplugGapMs);
        platform.Attach(rx);
        ++report.replugs;
      }
      if (station.Link().HaveRx() && !rx->Linked()) {
        tx->SetBindMode(true);
        window.Click("btnCombo_Cmd_Soft_Bind_SW");
        host.RunUntil([&] { return !station.Presence().tmrSoftBind().Enabled(); }, 20000);
        tx->SetBindMode(false);
        host.RunUntil(bothReady, 2000, 5);
      }
      if (bothReady() && report.readyMs < 0) report.readyMs = int64_t(host.TickCount() - plugAt);
      if (attempt == 0 && !options.fault.empty()) rx->InjectFault(options.fault);
      // The operator's key: taken only while Go is enabled.
      const bool pressed = window.FormKeyDown(kVkPageDown);
      const FleetStatus fleet = station.Production().Fleet();
      const bool fleetRefused = pressed && station.Go().LastRun().stage == RunStage::Refused &&
                                fleet.configured && !fleet.online;
      if (!fleetRefused || std::chrono::steady_clock::now() >= waitUntil) {
        if (pressed)
          report.outcome = OutcomeOf(unit, station.Go().LastRun());
        else
          report.outcome.reason = NotReadyReason(station);
        break;
      }
      // The operator takes the unit off and waits for the line's database; the station's
      // timers go on meanwhile (its sender tries again).
      if (!waited)
        err << "korvel-rf: unit " << unit << " waits for the fleet database: " << fleet.why << "\n";
      waited = true;
      platform.Detach(rx.get());
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      host.RunFor(1000);
    }
    report.cycleMs = host.TickCount() - plugAt;
    report.images.rxAfter = rx->Registers();
    report.images.txAfter = tx->EepromBytes();
    report.images.reportsSent = rx->ReportsReceived();
    report.images.reportsFetched = rx->ReportsFetched();
    out << UnitLineText(report.outcome) << " ready_ms=" << report.readyMs
        << " cycle_ms=" << report.cycleMs << "\n"
        << std::flush;  // a killed run loses no line it printed
    reports.push_back(report);
    // The unit leaves the bench at its result; the next comes after the operator's delay.
    platform.Detach(rx.get());
    const int32_t half = int32_t(options.operatorDelayMs / 2);
    const int32_t jitter = std::uniform_int_distribution<int32_t>(-half, half)(operatorJitter);
    host.RunFor(uint64_t(int64_t(options.operatorDelayMs) + jitter));
  }
  window.FormCloseQuery();
  {
    const uint64_t lineMs = std::max<uint64_t>(host.TickCount() - lineStart, 1);
    int passed = 0, ready = 0;
    uint64_t readySum = 0, cycleSum = 0;
    for (const UnitReport& r : reports) {
      passed += r.outcome.pass;
      if (r.readyMs >= 0) readySum += uint64_t(r.readyMs), ++ready;
      cycleSum += r.cycleMs;
    }
    out << "summary units=" << reports.size() << " pass=" << passed
        << " hotplug=" << (station.Presence().HotPlug().Active() ? "on" : "off")
        << " operator_delay_ms=" << options.operatorDelayMs
        << " mean_ready_ms=" << (ready ? (readySum + uint64_t(ready) / 2) / uint64_t(ready) : 0)
        << " mean_cycle_ms="
        << (reports.empty() ? 0 : (cycleSum + reports.size() / 2) / reports.size())
        << " units_per_hour=" << uint64_t(passed) * 3600000 / lineMs << "\n"
        << std::flush;
  }

  if (options.json) {
    std::ostringstream json;
    json << "{\"units\":[";
    for (size_t i = 0; i < reports.size(); ++i) {
      const UnitReport& r = reports[i];
      json << (i ? "," : "") << "{" << UnitJsonMembers(r.outcome) << ",\"ready_ms\":" << r.readyMs
           << ",\"cycle_ms\":" << r.cycleMs << ",\"replugs\":" << r.replugs << ","
           << DeviceImagesJsonMembers(r.images) << "}";
    }
    json << "]}\n";
    std::ofstream file(*options.json, std::ios::binary);
    file << json.str();
    if (!file.flush()) {
      err << "korvel-rf: cannot write " << options.json->string() << "\n";
      return kExitBadSettings;
    }
  }
  return kExitDone;
}

}  // namespace korvel
