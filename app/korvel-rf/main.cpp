// korvel-rf: the command-line companion of the manufacture tool.
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "EmulatedHid.h"
#include "EmulatedNeighbours.h"
#include "EmulatedRx.h"
#include "Scan.h"
#include "VirtualHost.h"
#include "device/HidAccess.h"
#include "platform/SystemHost.h"

namespace {

constexpr const char* kUsage =
    "usage: korvel-rf <verb> [options]\n"
    "verbs:\n"
    "  scan [--emulated]   list the HID interfaces; '*' marks the one the tool would open\n"
    "                      --emulated: scan the built-in emulated dongle instead\n";

int UsageError(const std::string& message) {
  std::cerr << "korvel-rf: " << message << " (try 'korvel-rf --help')\n";
  return 2;
}

int Scan(const std::vector<std::string>& args) {
  bool emulated = false;
  for (const std::string& a : args) {
    if (a == "--emulated") emulated = true;
    else return UsageError("scan: unknown option '" + a + "'");
  }
  if (emulated) {
    korvel::VirtualHost host;
    korvel::EmulatedHidPlatform platform(host);
    korvel::AttachTypicalNeighbours(platform);
    platform.Attach(std::make_shared<korvel::EmulatedRx>(host));
    korvel::HidAccess hid(platform, host);
    korvel::ScanInterfaces(hid, std::cout);
    return 0;
  }
  korvel::SystemHost host;
  auto platform = korvel::CreateSystemHidPlatform();
  korvel::HidAccess hid(*platform, host);
  korvel::ScanInterfaces(hid, std::cout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return UsageError("no verb given");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << kUsage;
    return 0;
  }
  const std::string verb = args[0];
  args.erase(args.begin());
  if (verb == "scan") return Scan(args);
  return UsageError("unknown verb '" + verb + "'");
}
