#include "StationVerb.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include "Next.h"
#include "UnitLine.h"
#include "device/HidPlatform.h"
#include "device/HotPlug.h"
#include "localization/Lang.h"
#include "platform/SystemHost.h"
#include "production/FleetDatabase.h"
#include "station/Station.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace korvel {

namespace {
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

std::string DialogWord(const std::string& dialog) {
  return dialog == "dlgError"  ? "error"
         : dialog == "dlgBat"  ? "battery"
         : dialog == "dlgBind" ? "connect"
                               : "message";
}
}  // namespace

// The console: what the window would change on screen, as lines. Dialogs are answered as no
// one is there to answer them: no, cancelled, the language already chosen.
class ConsoleStation::View final : public StationView {
 public:
  explicit View(ConsoleStation& owner) : owner_(owner) {}

  void Render(const ViewState& state) override {
    // The two sides and the reason line, whenever their words change.
    for (const auto& [control, name] : kWatched) {
      const std::string key = name;
      const ControlState* shown = state.Find(control);
      if (!shown) continue;
      std::string& before = shown_[control];
      if (shown->text == before) continue;
      before = shown->text;
      if (before.empty()) continue;
      owner_.Print("status " + key + "=" + JsonText(OneLine(before)),
                   "{\"event\":\"status\",\"" + key + "\":" + JsonText(OneLine(before)) + "}");
    }
  }
  void ShowMessage(const std::string& dialog, const std::string&,
                   const std::string& text) override {
    const std::string word = DialogWord(dialog);
    owner_.Print("message " + word + "=" + JsonText(OneLine(text)),
                 "{\"event\":\"message\",\"dialog\":\"" + word +
                     "\",\"text\":" + JsonText(OneLine(text)) + "}");
  }
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  std::optional<std::string> AskPassword() override { return std::nullopt; }
  int AskLanguage(int preselected) override { return preselected; }
  int ScreenWidth() override { return 1920; }
  int ScreenHeight() override { return 1080; }

 private:
  static constexpr std::pair<const char*, const char*> kWatched[] = {
      {"edtRX", "rx"}, {"edtTX", "tx"}, {"lblReason", "reason"}};
  ConsoleStation& owner_;
  std::map<std::string, std::string> shown_;
};

struct ConsoleStation::Rooms {
  // Status lines in English whatever the PC's saved language: machines read them.
  MemoryLanguageStore language;
  std::unique_ptr<Station> station;
};

ConsoleStation::ConsoleStation(const StationOptions& options, Host& host, HidPlatform& hid,
                               HotPlugSource* hotPlug, std::ostream& out, std::ostream& err)
    : options_(options),
      host_(host),
      hid_(hid),
      hotPlug_(hotPlug),
      out_(out),
      err_(err),
      view_(std::make_unique<View>(*this)),
      rooms_(std::make_unique<Rooms>()) {}

ConsoleStation::~ConsoleStation() = default;

void ConsoleStation::Print(const std::string& text, const std::string& json) {
  out_ << (options_.jsonLines ? json : text) << "\n" << std::flush;
}

std::optional<int> ConsoleStation::Start() {
  {
    Settings settings;
    NumberingLedger ledger;
    VidPidTableType table{};
    if (!LoadSettingsForCli(options_.ini, settings, ledger, table, err_)) {
      finished_ = true;
      return kExitBadSettings;
    }
  }
  const bool fleet = IsFleetUrl(options_.db.string());
  StationEnvironment env{
      .host = host_,
      .hid = hid_,
      .languageStore = rooms_->language,
      .workingDirectory = options_.ini.parent_path().empty() ? "." : options_.ini.parent_path(),
      // Another copy of the window is not ended: the lock on TX.ini keeps two stations apart.
      .killOtherInstances = nullptr,
      .iniPath = options_.ini,
      // No loader's title to set and no window for the programming tool.
      .startProgram = [](const std::string&) { return false; },
      .reportToLoader = [](const std::string&) { return false; },
      .recordPath = fleet ? std::filesystem::path() : options_.db,
      .fleetUrl = fleet ? options_.db.string() : std::string(),
      .program = "korvel-rf station",
      .hotPlug = hotPlug_,
  };
  rooms_->station = std::make_unique<Station>(env, *view_);
  Station& station = *rooms_->station;
  station.Presenter().FormCreate({});
  station.Presenter().FormActivate();
  if (!station.File().Claimed()) {
    finished_ = true;
    return station.File().HeldElsewhere() ? kExitInUse : kExitBadSettings;
  }
  if (!station.Production().Record().IsOpen()) {
    finished_ = true;
    return kExitRecord;
  }
  Print("station ini=" + JsonText(options_.ini.string()) +
            " go=" + (options_.autoGo ? "auto" : "input") +
            " hotplug=" + JsonText(station.Presence().HotPlug().Status()),
        "{\"event\":\"station\",\"ini\":" + JsonText(options_.ini.string()) + ",\"go\":\"" +
            (options_.autoGo ? "auto" : "input") +
            "\",\"hotplug\":" + JsonText(station.Presence().HotPlug().Status()) + "}");
  return std::nullopt;
}

void ConsoleStation::Line(const std::string& typed) {
  std::string line = typed;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty() || line == "go") {
    goRequested_ = true;
  } else if (line == "quit") {
    Stop();
  } else {
    Print(
        "note " +
            JsonText("'" + line + "' is not a command: an empty line or go presses Go, quit ends"),
        "{\"event\":\"note\",\"text\":" +
            JsonText("'" + line + "' is not a command: an empty line or go presses Go, quit ends") +
            "}");
  }
}

void ConsoleStation::InputEnded() {
  if (!options_.autoGo) Stop();
}

void ConsoleStation::Stop() {
  stopping_ = true;
}

void ConsoleStation::Press(bool asked) {
  Station& station = *rooms_->station;
  const int runs = station.Go().Runs();
  // Taken only while Go is enabled, as the window's key; a press that found a side not ready
  // ran nothing.
  if (!station.Presenter().FormKeyDown(kVkPageDown) || station.Go().Runs() == runs) {
    if (!asked) return;
    const auto ready = station.Presence().Ready();
    const std::string why = !ready.rx   ? "Go not enabled: RX not ready"
                            : !ready.tx ? "Go not enabled: TX not ready"
                                        : "Go not enabled";
    Print("note " + JsonText(why), "{\"event\":\"note\",\"text\":" + JsonText(why) + "}");
    return;
  }
  const UnitOutcome outcome = OutcomeOf(++units_, station.Go().LastRun());
  passed_ += outcome.pass;
  const std::string ready = std::to_string(readyMs_);
  Print(UnitLineText(outcome) + " ready_ms=" + ready,
        "{\"event\":\"unit\"," + UnitJsonMembers(outcome) + ",\"ready_ms\":" + ready + "}");
  // The unit stays plugged until the operator takes it: --auto waits until something left.
  armed_ = false;
  emptySearchesAtRun_ = station.Presence().EmptySearches();
}

bool ConsoleStation::Armed() {
  // Only a search that found no dongle says the unit was taken off: other devices coming and
  // going, or the bus finding the same dongle again, must not program it twice.
  if (!armed_) armed_ = rooms_->station->Presence().EmptySearches() > emptySearchesAtRun_;
  return armed_;
}

void ConsoleStation::Turn() {
  if (finished_ || !rooms_->station) return;
  Station& station = *rooms_->station;
  // Plug to ready, from the system's first word of the plug.
  const auto now = station.Presence().Ready();
  const bool bothReady = now.rx && now.tx;
  if (bothReady && !wasReady_) {
    const uint64_t plugAt = station.Presence().HotPlug().BurstStartedAt();
    readyMs_ = plugAt ? int64_t(host_.TickCount() - plugAt) : -1;
  }
  wasReady_ = bothReady;
  const bool due = options_.units == 0 || units_ < options_.units;
  if (!stopping_ && due) {
    if (goRequested_) {
      goRequested_ = false;
      Press(/*asked=*/true);
    } else if (options_.autoGo && bothReady && !station.Go().Busy() && Armed()) {
      Press(/*asked=*/false);
    }
  }
  if (stopping_ || (options_.units != 0 && units_ >= options_.units)) finished_ = true;
}

int ConsoleStation::Finish() {
  finished_ = true;
  if (!rooms_->station) return kExitDone;
  rooms_->station->Presenter().FormCloseQuery();
  rooms_->station.reset();
  Print("summary units=" + std::to_string(units_) + " pass=" + std::to_string(passed_),
        "{\"event\":\"summary\",\"units\":" + std::to_string(units_) +
            ",\"pass\":" + std::to_string(passed_) + "}");
  return kExitDone;
}

namespace {
// A signal's word reaches the loop through a pipe (POSIX) or a posted task (Windows).
std::atomic<bool> gSignalled{false};
#ifdef _WIN32
std::atomic<Host*> gSignalHost{nullptr};
HANDLE gEnded = nullptr;  // set once the station has closed
BOOL WINAPI OnConsoleControl(DWORD type) {
  gSignalled = true;
  if (Host* host = gSignalHost.load()) host->Post([] {});
  // Closing the console, logging off or shutting down ends the process when this returns:
  // the unit in hand and its record come first, within the few seconds Windows allows.
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && gEnded)
    ::WaitForSingleObject(gEnded, 4500);
  return TRUE;
}
#else
std::atomic<int> gSignalPipe{-1};
void OnSignal(int) {
  const int saved = errno;
  gSignalled = true;
  const char byte = 1;
  (void)!::write(gSignalPipe.load(), &byte, 1);
  errno = saved;
}
#endif

// Lines from standard input, read on a thread of their own and handed to the loop; the thread
// is left blocked in its read at the end, so the loop lets go of it first.
struct Inbox {
  std::mutex mutex;
  Host* host = nullptr;
  std::function<void(std::optional<std::string>)> deliver;
  void Give(std::optional<std::string> line) {
    std::lock_guard lock(mutex);
    if (host) host->Post([deliver = deliver, line] { deliver(line); });
  }
  void Close() {
    std::lock_guard lock(mutex);
    host = nullptr;
  }
};

// Read below the C runtime: a thread blocked in its read then holds none of the runtime's
// locks, which the process's exit takes.
void ReadInputLines(Inbox& inbox) {
  std::string pending;
  char buffer[512];
  for (;;) {
#ifdef _WIN32
    DWORD n = 0;
    if (!::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &n, nullptr) || n == 0)
      break;
#else
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
#endif
    pending.append(buffer, size_t(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      inbox.Give(pending.substr(0, end));
      pending.erase(0, end + 1);
    }
  }
  if (!pending.empty()) inbox.Give(pending);
  inbox.Give(std::nullopt);
}
}  // namespace

int RunStationVerb(const StationOptions& options, std::ostream& out, std::ostream& err) {
  SystemHost host;
  auto hid = CreateSystemHidPlatform();
  auto hotPlug = CreateSystemHotPlugSource();
  ConsoleStation station(options, host, *hid, hotPlug.get(), out, err);
  if (const auto refused = station.Start()) return *refused;

#ifdef _WIN32
  gSignalHost = &host;
  gEnded = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  int signalPipe[2] = {-1, -1};
  std::unique_ptr<HostWatch> signalWatch;
  // The pipe stays open to the end of the process: a handler may still write to it.
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    gSignalPipe = signalPipe[1];
    signalWatch = host.WatchReadable(signalPipe[0], [fd = signalPipe[0]] {
      char drain[16];
      while (::read(fd, drain, sizeof drain) > 0) {
      }
    });
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  // A reader that went away must not end the station in the middle of a unit.
  ::signal(SIGPIPE, SIG_IGN);
#endif

  auto inbox = std::make_shared<Inbox>();
  inbox->host = &host;
  inbox->deliver = [&station](std::optional<std::string> line) {
    if (line)
      station.Line(*line);
    else
      station.InputEnded();
  };
  std::thread([inbox] { ReadInputLines(*inbox); }).detach();

  while (!station.Finished()) {
    host.RunOnce(500);
    if (gSignalled) station.Stop();
    station.Turn();
  }
  inbox->Close();
#ifdef _WIN32
  gSignalHost = nullptr;
  const int code = station.Finish();
  if (gEnded) ::SetEvent(gEnded);
  return code;
#else
  signalWatch.reset();
  return station.Finish();
#endif
}

}  // namespace korvel
