// korvel-rf: the command-line companion of the manufacture tool.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Db.h"
#include "EmulatedHid.h"
#include "EmulatedNeighbours.h"
#include "EmulatedRx.h"
#include "Next.h"
#include "Records.h"
#include "Report.h"
#include "Scan.h"
#include "Simulate.h"
#include "StationVerb.h"
#include "VirtualHost.h"
#include "device/HidAccess.h"
#include "platform/SystemHost.h"
#include "platform/Text.h"
#ifdef KORVEL_WITH_SERVER
#include "Serve.h"
#endif

namespace {

constexpr const char* kUsage =
    "usage: korvel-rf <verb> [options]\n"
    "verbs:\n"
    "  scan [--emulated] [--ini PATH]\n"
    "                      list the HID interfaces; '*' marks the one the tool would open\n"
    "                      (built-in VID/PIDs, then TX.ini's Device entries and VID/PID);\n"
    "                      --emulated: scan the built-in emulated dongle instead\n"
    "  next [--ini PATH] [--count N] [--date YYYY-MM-DD] [--commit]\n"
    "                      print the serials and link IDs of the next N units (default 1)\n"
    "                      as if each passed; --ini defaults to ./TX.ini; --date fixes the\n"
    "                      date word; --commit saves the advanced generators to the file\n"
    "  records [--db PATH|URL] [--since YYYY-MM-DD] [--station NAME] [--csv PATH|-]\n"
    "  records [--db PATH|URL] --serial HEX\n"
    "                      list the production record (--db defaults to ./production.db;\n"
    "                      a postgresql:// URL lists the line's record in the fleet database):\n"
    "                      one line per unit, or with --csv as CSV with a header row;\n"
    "                      --serial: that unit's rows and the TX.ini keys it was written with\n"
    "  serve [--db PATH|URL] [--port N] [--bind ADDR] [--stopped-after MIN]\n"
    "                      serve the line's page (yield, units per hour, failures by step,\n"
    "                      the latest units; /units.csv, /api/summary.json) from the record,\n"
    "                      read-only (a postgresql:// URL reads the fleet database: give it a\n"
    "                      user of korvel_reader); --port defaults to 8080 (0: any free\n"
    "                      port), --bind to 127.0.0.1 (this PC only); a station without a run\n"
    "                      for --stopped-after minutes (default 10) shows as stopped\n"
    "  report [--db PATH|URL] --html FILE [--since YYYY-MM-DD] [--until YYYY-MM-DD]\n"
    "         [--lang en|zh-TW|zh-CN] [--stopped-after MIN]\n"
    "                      the same page as one self-contained HTML file (today by default)\n"
    "  db init --db URL [--lease-expiry DURATION]\n"
    "                      create or upgrade the fleet database's tables and its roles\n"
    "                      korvel_station, korvel_reader, korvel_admin; DURATION (90m, 24h,\n"
    "                      7d; default 24h) is how long a leased block stays a station's\n"
    "  db leases --db URL [--station NAME]\n"
    "                      every series and leased block, and what became of its numbers\n"
    "  station [--ini PATH] [--db PATH|URL] [--auto] [--units N] [--json-lines]\n"
    "                      the window's station without a window, on this PC's HID bus: the\n"
    "                      same TX.ini, lock, record, hot-plug and Go; Go on each line read\n"
    "                      from standard input (empty or 'go'; 'quit' ends; its end ends the\n"
    "                      station unless --auto), or with --auto as soon as both sides are\n"
    "                      ready; one line per unit as simulate prints it, and the status as\n"
    "                      it changes (--json-lines: one JSON object per line); --units: end\n"
    "                      after N units; SIGINT or SIGTERM end it after the unit in hand\n"
    "  simulate [--ini PATH] [--db PATH|URL] [--units N] [--date YYYY-MM-DD] [--fault NAME]\n"
    "           [--json PATH] [--operator-delay MS] [--no-hotplug] [--wait-fleet SECONDS]\n"
    "                      runs the window's station on virtual time against a fresh emulated\n"
    "                      dongle and mouse per unit (detection, link check, Connect when\n"
    "                      needed, Go), using and updating the settings file and the\n"
    "                      production record like the window (--ini defaults to ./TX.ini,\n"
    "                      --db to production.db beside it); prints one line per unit;\n"
    "                      --json writes each unit's device images before and after;\n"
    "                      an operator plugs each unit, waits for ready, presses PageDown,\n"
    "                      unplugs at the result and plugs the next after --operator-delay\n"
    "                      (default 1000 ms, +-half, seeded); each line gives ready_ms (plug\n"
    "                      to both ready) and cycle_ms (plug to the result), a summary line\n"
    "                      the means and passed units per hour; --no-hotplug: the 5.5 s\n"
    "                      detection timer alone; with a fleet database (--db URL or TX.ini's\n"
    "                      [Record] Url), --wait-fleet: an operator whose Go is refused while\n"
    "                      the database cannot be reached waits up to SECONDS (real time)\n"
    "                      and tries the unit again\n"
    "                      --fault injects one emulator fault into every unit, just before Go:\n";

std::string Usage() {
  std::string text = kUsage;
  for (const std::string& fault : korvel::EmulatedRx::FaultNames())
    text += "                        " + fault + "\n";
  return text +
         "exit codes: 0 done, 1 bad settings file (unreadable, not a settings file, or an\n"
         "            unsound generator), 2 usage error, 3 settings file in use by another\n"
         "            station, 4 production record cannot be opened or written, 5 the\n"
         "            server cannot listen on the address and port, 6 fleet database\n"
         "            cannot be reached or refused\n";
}

// One verb's part of the usage: its lines, up to the next verb, and the exit codes.
std::string VerbUsage(const std::string& verb) {
  const std::string all = Usage();
  const size_t start = all.find("\n  " + verb + " ");
  if (start == std::string::npos) return {};
  size_t end = start + 1;
  // A verb's line starts with two blanks and a letter; its continuation lines with more blanks.
  for (size_t at = all.find('\n', end); at != std::string::npos; at = all.find('\n', at + 1)) {
    end = at + 1;
    // The next verb's line; a verb with several forms (records, db) keeps them all.
    if (end + 2 < all.size() && all.compare(end, 2, "  ") == 0 && std::islower(all[end + 2]) &&
        all.compare(end + 2, verb.size() + 1, verb + " ") != 0)
      break;
    if (all.compare(end, 10, "exit codes") == 0) break;
  }
  return "usage: korvel-rf " + all.substr(start + 3, end - start - 3) +
         all.substr(all.find("exit codes"));
}

int UsageError(const std::string& message) {
  std::cerr << "korvel-rf: " << message << " (try 'korvel-rf --help')\n";
  return korvel::kExitUsage;
}

int Scan(const std::vector<std::string>& args) {
  bool emulated = false;
  std::filesystem::path ini = korvel::kIniFileName;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--emulated")
      emulated = true;
    else if (args[i] == "--ini" && i + 1 < args.size())
      ini = args[++i];
    else if (args[i] == "--ini")
      return UsageError("scan: --ini needs a value");
    else
      return UsageError("scan: unknown option '" + args[i] + "'");
  }
  if (emulated) {
    korvel::VirtualHost host;
    korvel::EmulatedHidPlatform platform(host);
    korvel::AttachTypicalNeighbours(platform);
    platform.Attach(std::make_shared<korvel::EmulatedRx>(host));
    return korvel::RunScan(platform, host, ini, std::cout, std::cerr);
  }
  korvel::SystemHost host;
  auto platform = korvel::CreateSystemHidPlatform();
  return korvel::RunScan(*platform, host, ini, std::cout, std::cerr);
}

int Next(const std::vector<std::string>& args) {
  korvel::NextOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--commit") {
      options.commit = true;
    } else if (a == "--ini" && hasValue) {
      options.ini = args[++i];
    } else if (a == "--count" && hasValue) {
      const std::string& n = args[++i];
      char* end = nullptr;
      const long count = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end != '\0' || count < 1 || count > 100000)
        return UsageError("next: --count needs a whole number from 1 to 100000, not '" + n + "'");
      options.count = int(count);
    } else if (a == "--date" && hasValue) {
      korvel::LocalDate date;
      if (!korvel::ParseIsoDate(args[++i], date))
        return UsageError("next: --date needs YYYY-MM-DD, not '" + args[i] + "'");
      options.date = date;
    } else if (a == "--ini" || a == "--count" || a == "--date") {
      return UsageError("next: " + a + " needs a value");
    } else {
      return UsageError("next: unknown option '" + a + "'");
    }
  }
  return korvel::RunNext(options, std::cout, std::cerr);
}

int Simulate(const std::vector<std::string>& args) {
  korvel::SimulateOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--ini" && hasValue) {
      options.ini = args[++i];
    } else if (a == "--json" && hasValue) {
      options.json = args[++i];
    } else if (a == "--units" && hasValue) {
      const std::string& n = args[++i];
      char* end = nullptr;
      const long units = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end != '\0' || units < 1 || units > 10000)
        return UsageError("simulate: --units needs a whole number from 1 to 10000, not '" + n +
                          "'");
      options.units = int(units);
    } else if (a == "--date" && hasValue) {
      korvel::LocalDate date;
      if (!korvel::ParseIsoDate(args[++i], date))
        return UsageError("simulate: --date needs YYYY-MM-DD, not '" + args[i] + "'");
      options.date = date;
    } else if (a == "--fault" && hasValue) {
      options.fault = args[++i];
      const auto names = korvel::EmulatedRx::FaultNames();
      if (std::find(names.begin(), names.end(), options.fault) == names.end())
        return UsageError("simulate: unknown fault '" + options.fault + "'");
    } else if (a == "--db" && hasValue) {
      options.db = args[++i];
    } else if (a == "--wait-fleet" && hasValue) {
      const std::string& n = args[++i];
      char* end = nullptr;
      const long seconds = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end != '\0' || seconds < 0 || seconds > 86400)
        return UsageError("simulate: --wait-fleet needs seconds from 0 to 86400, not '" + n + "'");
      options.waitFleetSeconds = int(seconds);
    } else if (a == "--no-hotplug") {
      options.hotPlug = false;
    } else if (a == "--operator-delay" && hasValue) {
      const std::string& n = args[++i];
      char* end = nullptr;
      const long ms = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end != '\0' || ms < 0 || ms > 600000)
        return UsageError("simulate: --operator-delay needs milliseconds from 0 to 600000, not '" +
                          n + "'");
      options.operatorDelayMs = uint32_t(ms);
    } else if (a == "--ini" || a == "--json" || a == "--units" || a == "--date" || a == "--fault" ||
               a == "--db" || a == "--operator-delay" || a == "--wait-fleet") {
      return UsageError("simulate: " + a + " needs a value");
    } else {
      return UsageError("simulate: unknown option '" + a + "'");
    }
  }
  return korvel::RunSimulate(options, std::cout, std::cerr);
}

int StationVerb(const std::vector<std::string>& args) {
  korvel::StationOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--ini" && hasValue) {
      options.ini = args[++i];
    } else if (a == "--db" && hasValue) {
      options.db = args[++i];
    } else if (a == "--units" && hasValue) {
      const std::string& n = args[++i];
      char* end = nullptr;
      const long units = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end != '\0' || units < 1 || units > 1000000)
        return UsageError("station: --units needs a whole number from 1 to 1000000, not '" + n +
                          "'");
      options.units = int(units);
    } else if (a == "--auto") {
      options.autoGo = true;
    } else if (a == "--json-lines") {
      options.jsonLines = true;
    } else if (a == "--ini" || a == "--db" || a == "--units") {
      return UsageError("station: " + a + " needs a value");
    } else {
      return UsageError("station: unknown option '" + a + "'");
    }
  }
  return korvel::RunStationVerb(options, std::cout, std::cerr);
}

int Records(const std::vector<std::string>& args) {
  korvel::RecordsOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--db" && hasValue) {
      options.db = args[++i];
    } else if (a == "--csv" && hasValue) {
      options.csv = args[++i];
    } else if (a == "--since" && hasValue) {
      korvel::LocalDate date;
      if (!korvel::ParseIsoDate(args[++i], date))
        return UsageError("records: --since needs YYYY-MM-DD, not '" + args[i] + "'");
      options.since = args[i];
    } else if (a == "--station" && hasValue) {
      options.station = args[++i];
    } else if (a == "--serial" && hasValue) {
      options.serial = korvel::SerialKey(args[++i]);
      if (options.serial.empty())
        return UsageError("records: --serial needs 12 hexadecimal digits, not '" + args[i] + "'");
    } else if (a == "--db" || a == "--csv" || a == "--since" || a == "--station" ||
               a == "--serial") {
      return UsageError("records: " + a + " needs a value");
    } else {
      return UsageError("records: unknown option '" + a + "'");
    }
  }
  if (!options.serial.empty() && options.csv)
    return UsageError("records: --serial and --csv do not go together");
  return korvel::RunRecords(options, std::cout, std::cerr);
}

// Minutes from 1 to a day, for --stopped-after.
bool ParseMinutes(const std::string& text, int64_t& seconds) {
  char* end = nullptr;
  const long minutes = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || minutes < 1 || minutes > 1440) return false;
  seconds = int64_t(minutes) * 60;
  return true;
}

int Serve(const std::vector<std::string>& args) {
#ifdef KORVEL_WITH_SERVER
  korvel::ServeOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--db" && hasValue) {
      options.db = args[++i];
    } else if (a == "--bind" && hasValue) {
      options.bind = args[++i];
      if (options.bind.empty()) return UsageError("serve: --bind needs an address");
    } else if (a == "--port" && hasValue) {
      const std::string& n = args[++i];
      char* end = nullptr;
      const long port = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end != '\0' || port < 0 || port > 65535)
        return UsageError("serve: --port needs a port number from 0 to 65535, not '" + n + "'");
      options.port = int(port);
    } else if (a == "--stopped-after" && hasValue) {
      if (!ParseMinutes(args[++i], options.stopAfterSeconds))
        return UsageError("serve: --stopped-after needs minutes from 1 to 1440, not '" + args[i] +
                          "'");
    } else if (a == "--db" || a == "--bind" || a == "--port" || a == "--stopped-after") {
      return UsageError("serve: " + a + " needs a value");
    } else {
      return UsageError("serve: unknown option '" + a + "'");
    }
  }
  return korvel::RunServe(options, std::cout, std::cerr);
#else
  (void)args;
  return UsageError("serve: this build has no web server (it is built on Linux only)");
#endif
}

int Report(const std::vector<std::string>& args) {
  korvel::ReportOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--db" && hasValue) {
      options.db = args[++i];
    } else if (a == "--html" && hasValue) {
      options.html = args[++i];
    } else if (a == "--since" && hasValue) {
      options.since = args[++i];
    } else if (a == "--until" && hasValue) {
      options.until = args[++i];
    } else if (a == "--lang" && hasValue) {
      options.lang = args[++i];
    } else if (a == "--stopped-after" && hasValue) {
      if (!ParseMinutes(args[++i], options.stopAfterSeconds))
        return UsageError("report: --stopped-after needs minutes from 1 to 1440, not '" + args[i] +
                          "'");
    } else if (a == "--db" || a == "--html" || a == "--since" || a == "--until" || a == "--lang" ||
               a == "--stopped-after") {
      return UsageError("report: " + a + " needs a value");
    } else {
      return UsageError("report: unknown option '" + a + "'");
    }
  }
  if (options.html.empty()) return UsageError("report: --html FILE is needed");
  return korvel::RunReport(options, std::cout, std::cerr);
}

int Db(const std::vector<std::string>& args) {
  if (args.empty() || (args[0] != "init" && args[0] != "leases"))
    return UsageError("db: give init or leases");
  korvel::DbOptions options;
  options.verb = args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--db" && hasValue) {
      options.url = args[++i];
    } else if (a == "--lease-expiry" && hasValue && options.verb == "init") {
      options.leaseExpirySeconds = korvel::ParseDuration(args[++i]);
      if (!options.leaseExpirySeconds)
        return UsageError("db init: --lease-expiry needs a duration such as 90m, 24h or 7d, not '" +
                          args[i] + "'");
    } else if (a == "--station" && hasValue && options.verb == "leases") {
      options.station = args[++i];
    } else if (a == "--db" || a == "--lease-expiry" || a == "--station") {
      return UsageError("db " + options.verb + ": " + a + " needs a value");
    } else {
      return UsageError("db " + options.verb + ": unknown option '" + a + "'");
    }
  }
  if (options.url.empty()) return UsageError("db " + options.verb + ": --db URL is needed");
  return korvel::RunDb(options, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return UsageError("no verb given");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << Usage();
    return 0;
  }
  const std::string verb = args[0];
  args.erase(args.begin());
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") {
      const std::string usage = VerbUsage(verb);
      if (usage.empty()) return UsageError("unknown verb '" + verb + "'");
      std::cout << usage;
      return 0;
    }
  if (verb == "scan") return Scan(args);
  if (verb == "next") return Next(args);
  if (verb == "simulate") return Simulate(args);
  if (verb == "station") return StationVerb(args);
  if (verb == "records") return Records(args);
  if (verb == "serve") return Serve(args);
  if (verb == "report") return Report(args);
  if (verb == "db") return Db(args);
  return UsageError("unknown verb '" + verb + "'");
}
