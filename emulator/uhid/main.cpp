// korvel-uhid-rx: the emulated receiver dongle and mouse as a real HID device of this
// machine's kernel (/dev/uhid), for tests of the hidraw path without hardware.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "UhidRx.h"
#include "platform/SystemHost.h"

namespace {

constexpr const char* kUsage =
    "usage: korvel-uhid-rx [--plug] [--schedule \"MS COMMAND; MS COMMAND; ...\"]\n"
    "                      [--fault NAME[:COUNT]]... [--version HEX] [--trace]\n"
    "Presents the emulated receiver dongle (and the mouse behind it over the radio) to this\n"
    "machine's kernel through /dev/uhid: its mouse, keyboard and vendor interfaces become\n"
    "hidraw nodes, and their feature reports are answered by the emulator on real time.\n"
    "  --plug       plug the first unit at once (otherwise it waits for 'plug')\n"
    "  --schedule   commands at times in milliseconds after the start\n"
    "  --fault      inject a fault into every unit put on the bench (COUNT: -1 until cleared)\n"
    "  --version    the dongle's release number (hex, default 0100)\n"
    "  --trace      one line per uhid event and answer on standard error\n"
    "Commands, one a line on standard input or in the schedule:\n";

volatile sig_atomic_t stopSignal = 0;
void OnStop(int signal) {
  stopSignal = signal;
}

int Usage(const std::string& message) {
  std::cerr << "korvel-uhid-rx: " << message << " (try 'korvel-uhid-rx --help')\n";
  return 2;
}

struct Timed {
  uint64_t atMs = 0;
  std::string command;
};

bool ParseSchedule(const std::string& text, std::vector<Timed>& out, std::string& error) {
  std::stringstream items(text);
  for (std::string item; std::getline(items, item, ';');) {
    std::istringstream words(item);
    std::string at, rest;
    if (!(words >> at)) continue;
    std::getline(words, rest);
    char* end = nullptr;
    const unsigned long long ms = std::strtoull(at.c_str(), &end, 10);
    if (*end != '\0' || rest.find_first_not_of(' ') == std::string::npos) {
      error = "--schedule: '" + item + "' is not 'MS COMMAND'";
      return false;
    }
    if (!out.empty() && ms < out.back().atMs) {
      error = "--schedule: times must not go back ('" + item + "')";
      return false;
    }
    out.push_back({ms, rest});
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  korvel::UhidRx::Options options;
  bool plugAtStart = false;
  std::vector<Timed> schedule;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      std::cout
          << kUsage << korvel::UhidRx::Commands()
          << "Ends at 'quit', SIGINT or SIGTERM, or when standard input ends and the schedule "
             "is done;\nthen pulls the unit and prints every unit's device images on "
             "standard output, as\n'korvel-rf simulate --json' writes them.\n"
             "Faults:";
      for (const std::string& f : korvel::EmulatedRx::FaultNames()) std::cout << ' ' << f;
      std::cout << "\nexit codes: 0 done, 1 /dev/uhid refused a plug, 2 usage error\n";
      return 0;
    } else if (a == "--plug") {
      plugAtStart = true;
    } else if (a == "--trace") {
      options.trace = true;
    } else if (a == "--schedule" && hasValue) {
      std::string error;
      if (!ParseSchedule(args[++i], schedule, error)) return Usage(error);
    } else if (a == "--fault" && hasValue) {
      const std::string value = args[++i];
      const size_t colon = value.find(':');
      const std::string name = value.substr(0, colon);
      int count = -1;
      if (colon != std::string::npos) {
        char* end = nullptr;
        count = int(std::strtol(value.c_str() + colon + 1, &end, 10));
        if (*end != '\0' || colon + 1 == value.size())
          return Usage("--fault: bad count in " + value);
      }
      const auto names = korvel::EmulatedRx::FaultNames();
      if (std::find(names.begin(), names.end(), name) == names.end())
        return Usage("--fault: unknown fault '" + name + "'");
      options.faults.push_back({name, count});
    } else if (a == "--version" && hasValue) {
      char* end = nullptr;
      const unsigned long v = std::strtoul(args[++i].c_str(), &end, 16);
      if (*end != '\0' || args[i].empty() || v > 0xFFFF)
        return Usage("--version needs 1 to 4 hex digits, not '" + args[i] + "'");
      options.rx.version = uint16_t(v);
    } else if (a == "--schedule" || a == "--fault" || a == "--version") {
      return Usage(a + " needs a value");
    } else {
      return Usage("unknown option '" + a + "'");
    }
  }

  // The signals wait while the loop works and are taken only inside ppoll, so none is lost
  // between a check and the wait.
  sigset_t stopSet, waitMask;
  sigemptyset(&stopSet);
  sigaddset(&stopSet, SIGINT);
  sigaddset(&stopSet, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSet, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A reader of the images that went away must not end the program before it pulls the unit.
  signal(SIGPIPE, SIG_IGN);

  korvel::SystemHost host;
  korvel::UhidRx bench(
      host, [] { return ::open("/dev/uhid", O_RDWR | O_CLOEXEC); }, options, std::cout, std::cerr);
  int exitCode = 0;
  auto run = [&](const std::string& line) {
    std::string error;
    if (bench.Command(line, error)) return;
    std::cerr << "korvel-uhid-rx: " << line << ": " << error << "\n";
    if (error.rfind("cannot open /dev/uhid", 0) == 0 || error.rfind("the kernel refused", 0) == 0)
      exitCode = 1;
  };
  if (plugAtStart) run("plug");

  const uint64_t start = host.TickCount();
  size_t next = 0;
  bool inputOpen = true;
  std::string pending;
  while (!bench.Done() && !stopSignal) {
    const uint64_t now = host.TickCount() - start;
    for (; next < schedule.size() && schedule[next].atMs <= now && !bench.Done(); ++next)
      run(schedule[next].command);
    if (bench.Done() || (!inputOpen && next == schedule.size())) break;

    std::vector<pollfd> watched;
    if (inputOpen) watched.push_back({STDIN_FILENO, POLLIN, 0});
    for (int fd : bench.Descriptors()) watched.push_back({fd, POLLIN, 0});
    timespec timeout{};
    timespec* wait = nullptr;
    if (next < schedule.size()) {
      const uint64_t ms = schedule[next].atMs - now;
      timeout.tv_sec = time_t(ms / 1000);
      timeout.tv_nsec = long(ms % 1000) * 1000000;
      wait = &timeout;
    }
    if (::ppoll(watched.data(), watched.size(), wait, &waitMask) < 0) {
      if (errno == EINTR) continue;
      std::cerr << "korvel-uhid-rx: poll failed: " << std::strerror(errno) << "\n";
      break;
    }
    for (const pollfd& p : watched) {
      if (p.revents == 0) continue;
      if (p.fd == STDIN_FILENO && inputOpen) {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          inputOpen = false;
          if (!pending.empty()) run(pending);
          pending.clear();
          continue;
        }
        pending.append(buffer, size_t(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
          const std::string line = pending.substr(0, end);
          pending.erase(0, end + 1);
          run(line);
          if (bench.Done()) break;
        }
        continue;
      }
      // An earlier event may have pulled the unit and closed this descriptor.
      const auto live = bench.Descriptors();
      if (std::find(live.begin(), live.end(), p.fd) != live.end()) bench.Dispatch(p.fd);
    }
  }
  if (stopSignal)
    std::cerr << "korvel-uhid-rx: " << (stopSignal == SIGINT ? "SIGINT" : "SIGTERM")
              << ": pulling the unit\n";
  bench.Unplug();
  std::cout << bench.ImagesJson() << std::flush;
  return exitCode;
}
