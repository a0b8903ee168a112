// korvel-hidraw-check: runs in the VM beside korvel-uhid-rx and puts the tool's own hidraw
// backend, netlink hot-plug source and permission hint to a real kernel's HID layer.
// It plugs and pulls the emulated dongle through korvel-uhid-rx's command FIFO and prints
//   CHECK <name> ok|FAIL <detail>     what the host side checks
//   FIGURE <name> <value>             measurements, for the README
// Exit code 0 when every check passed.
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "device/HidAccess.h"
#include "device/HidLinux.h"
#include "device/HotPlug.h"
#include "device/ReceiverFinder.h"
#include "device/UdevRule.h"
#include "platform/SystemHost.h"
#include "platform/Text.h"
#include "presenter/StationPresenter.h"

namespace korvel {
namespace {

constexpr uint16_t kVid = 0x1BCF, kPid = 0x053A, kRelease = 0x0100;
constexpr int kEventTimeoutMs = 20000;  // software emulation is slow; a missing event is not

int64_t MonotonicUs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

struct Seen {
  HotPlugEvent event;
  int64_t atUs = 0;
};

class Checks {
 public:
  bool Check(const std::string& name, bool ok, const std::string& detail) {
    std::cout << "CHECK " << name << (ok ? " ok " : " FAIL ") << detail << std::endl;
    (ok ? passed_ : failed_)++;
    return ok;
  }
  void Figure(const std::string& name, double value) {
    std::cout << "FIGURE " << name << " " << value << std::endl;
  }
  int Failed() const { return failed_; }
  int Passed() const { return passed_; }

 private:
  int passed_ = 0, failed_ = 0;
};

std::string Hex(const uint8_t* data, size_t size) {
  std::string text;
  char b[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(b, sizeof b, i ? " %02x" : "%02x", data[i]);
    text += b;
  }
  return text;
}

std::string Describe(const std::vector<HidInterfaceInfo>& list) {
  std::ostringstream text;
  for (const auto& i : list)
    text << " " << i.path << "=" << HexText(i.attributes.VendorID, 4) << ":"
         << HexText(i.attributes.ProductID, 4) << "/" << HexText(i.attributes.VersionNumber, 4)
         << "/" << i.FeatureReportByteLength;
  return text.str();
}

// The dongle's nodes as the tool lists them: mouse, keyboard and vendor, one release number.
// The kernel adds the interfaces' HID devices in workers of their own, so the node numbers
// need not follow the interface order.
bool DongleListed(const std::vector<HidInterfaceInfo>& list) {
  std::vector<uint16_t> lengths;
  for (const auto& i : list) {
    if (i.attributes.VendorID != kVid || i.attributes.ProductID != kPid) continue;
    if (i.attributes.VersionNumber != kRelease) return false;
    lengths.push_back(i.FeatureReportByteLength);
  }
  std::sort(lengths.begin(), lengths.end());
  return lengths == std::vector<uint16_t>{0, 0, 9};
}

std::optional<std::string> VendorPath(const std::vector<HidInterfaceInfo>& list) {
  for (const auto& i : list)
    if (i.attributes.VendorID == kVid && i.FeatureReportByteLength == 9) return i.path;
  return std::nullopt;
}

// Asks until the answer is valid (0xCC in byte 7), as the station's primitives do.
bool Transact(HidAccess& hid, intptr_t handle, ReportBuffer& buffer) {
  const ReportBuffer command = buffer;
  for (int attempt = 0; attempt < 30; ++attempt) {
    buffer = command;
    if (!hid.TransactFeature(handle, buffer)) return false;
    if (buffer[7] == 0xCC) return true;
  }
  return false;
}

// As a user without the udev rule: the node is there (sysfs says so) but may not be opened.
int UnprivilegedChecks(uid_t uid) {
  if (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(uid)) != 0 || ::setuid(uid) != 0) {
    std::cout << "CHECK unprivileged_user FAIL cannot become uid " << uid << ": "
              << std::strerror(errno) << std::endl;
    return 1;
  }
  Checks checks;
  SystemHost host;
  HidLinux hid;
  std::vector<HidInterfaceInfo> list;
  hid.Enumerate(list, true);
  checks.Check("unprivileged_listing", DongleListed(list),
               "uid " + std::to_string(::getuid()) + " lists" + Describe(list));
  const auto vendor = VendorPath(list);
  const intptr_t handle = vendor ? hid.Open(*vendor) : kNoHandle;
  const int error = hid.LastError();
  if (handle != kNoHandle) hid.Close(handle);
  checks.Check(
      "unprivileged_open_refused", vendor && handle == kNoHandle && error == EACCES,
      vendor ? *vendor + ": errno " + std::to_string(error) + " (" + std::strerror(error) + ")"
             : std::string("no vendor node listed"));
  HidAccess access(hid, host);
  ReceiverFinder finder(access);
  const bool opened = finder.OpenFirst(std::nullopt).Ok();
  const auto refused = finder.Unopenable(std::nullopt);
  const bool named = refused && refused->VendorID == kVid && refused->ProductID == kPid;
  std::string hint;
  if (named)
    hint =
        PermissionHint({refused->VendorID, refused->ProductID}, FindInstalledUdevRule()).English();
  std::string firstLine = hint.substr(0, hint.find('\n'));
  checks.Check("permission_hint",
               !opened && named && hint.find("1BCF:053A") != std::string::npos &&
                   hint.find("may not open") != std::string::npos &&
                   hint.find(UdevRuleInstallCommand()) != std::string::npos,
               "\"" + firstLine + "\"");
  return checks.Failed() == 0 ? 0 : 1;
}

int Run(const std::string& controlPath, uid_t unprivileged) {
  Checks checks;
  SystemHost host;
  HidLinux hid;
  HidAccess access(hid, host);
  ReceiverFinder finder(access);

  std::vector<Seen> seen;
  UeventHotPlugSource source;
  const Status watching = source.Start(host, [&seen](const HotPlugEvent& e) {
    seen.push_back({e, MonotonicUs()});
  });
  checks.Check("hotplug_source", watching.Ok(),
               watching ? source.Name() : watching.failure.English());

  const int control = ::open(controlPath.c_str(), O_WRONLY | O_CLOEXEC);
  if (control < 0) {
    checks.Check("control", false, controlPath + ": " + std::strerror(errno));
    return 1;
  }
  auto say = [control](const std::string& command) {
    const std::string line = command + "\n";
    const bool ok = ::write(control, line.data(), line.size()) == ssize_t(line.size());
    return std::pair<bool, int64_t>(ok, MonotonicUs());
  };
  auto count = [&seen](HotPlugEvent::Kind kind, size_t from) {
    return size_t(std::count_if(seen.begin() + long(from), seen.end(),
                                [kind](const Seen& s) { return s.event.kind == kind; }));
  };
  auto paths = [&seen](size_t from) {
    std::string text;
    for (size_t i = from; i < seen.size(); ++i)
      text += std::string(seen[i].event.kind == HotPlugEvent::Kind::Arrived ? " +" : " -") +
              seen[i].event.path;
    return text;
  };
  using Kind = HotPlugEvent::Kind;

  // Plug: three hidraw nodes, one per interface, each announced by the kernel.
  size_t mark = seen.size();
  auto [sent, plugAt] = say("plug");
  const bool arrived =
      sent && host.RunUntil([&] { return count(Kind::Arrived, mark) >= 3; }, kEventTimeoutMs);
  checks.Check("plug_events", arrived, "kernel uevents:" + paths(mark));
  if (arrived) checks.Figure("plug_to_last_node_event_ms", (seen.back().atUs - plugAt) / 1000.0);

  std::vector<HidInterfaceInfo> list;
  hid.Enumerate(list, true);
  checks.Check("enumerate", DongleListed(list), "sysfs lists" + Describe(list));

  const auto opened = finder.OpenFirst(std::nullopt);
  intptr_t handle = opened ? opened->handle : kNoHandle;
  checks.Check(
      "open_first",
      opened && opened->id.vid == kVid && opened->id.pid == kPid && opened->version == kRelease,
      opened ? "opened " + HexText(uint32_t(opened->id.vid), 4) + ":" +
                   HexText(uint32_t(opened->id.pid), 4) + " release " + HexText(opened->version, 4)
             : std::string("no match"));

  // Ready as the station sees it: the link status query answered.
  ReportBuffer link{1, 0x09, 0, 0, 0, 0, 0, 0, 0};
  const bool ready = handle != kNoHandle && Transact(access, handle, link);
  checks.Check("link_query", ready, "answer " + Hex(link.data(), link.size()));
  if (ready) checks.Figure("plug_to_ready_ms", (MonotonicUs() - plugAt) / 1000.0);

  // A set and a get through HidAccess; korvel-uhid-rx's trace shows what reached the device.
  ReportBuffer write{1, 0x04, 30, 0x12, 0x34, 0, 0, 0, 0};
  const bool written = handle != kNoHandle && access.SendFeature(handle, write);
  checks.Check("set_feature", written, "sent " + Hex(write.data(), write.size()));
  host.Sleep(20);
  ReportBuffer read{1, 0x03, 30, 0, 0, 0, 0, 0, 0};
  const bool got = handle != kNoHandle && Transact(access, handle, read);
  const ReportBuffer expected{0x12, 0x34, 0, 0, 0, 0, 0, 0xCC, 0};
  checks.Check("get_feature", got && read == expected,
               "register 30 read back as " + Hex(read.data(), read.size()));
  // The report ID the caller puts in byte 0 is what the device is asked for: another ID
  // reaches it (the trace shows rnum=2) and the dongle refuses it.
  uint8_t other[9] = {2, 0, 0, 0, 0, 0, 0, 0, 0};
  const bool otherOk = handle != kNoHandle && hid.GetFeature(handle, other, sizeof other);
  const int otherError = hid.LastError();
  checks.Check("other_report_id_refused", !otherOk && otherError == EIO,
               "report ID 2: errno " + std::to_string(otherError));
  // A buffer of another length than the report: the kernel asks the device all the same and
  // cuts the answer to the buffer; a longer buffer takes the whole report, zeros after it.
  uint8_t shorter[5] = {1}, longer[16] = {1};
  const bool shortOk = handle != kNoHandle && hid.GetFeature(handle, shorter, sizeof shorter);
  const int shortError = hid.LastError();
  const bool longOk = handle != kNoHandle && hid.GetFeature(handle, longer, sizeof longer);
  const int longError = hid.LastError();
  const uint8_t shortExpected[5] = {0x12, 0x34, 0, 0, 0};
  const uint8_t longExpected[16] = {0x12, 0x34, 0, 0, 0, 0, 0, 0xCC};
  checks.Check(
      "fetch_lengths",
      shortOk && longOk && std::memcmp(shorter, shortExpected, 5) == 0 &&
          std::memcmp(longer, longExpected, 16) == 0,
      "5 bytes: " + (shortOk ? Hex(shorter, 5) : "errno " + std::to_string(shortError)) +
          "; 16 bytes: " + (longOk ? Hex(longer, 16) : "errno " + std::to_string(longError)));

  // Pull: every node announced gone; the handle still held fails as a gone RX.
  mark = seen.size();
  auto [pulled, pullAt] = say("unplug");
  const bool left =
      pulled && host.RunUntil([&] { return count(Kind::Left, mark) >= 3; }, kEventTimeoutMs);
  checks.Check("unplug_events", left, "kernel uevents:" + paths(mark));
  if (left) checks.Figure("unplug_to_last_node_event_ms", (seen.back().atUs - pullAt) / 1000.0);
  ReportBuffer after{1, 0x09, 0, 0, 0, 0, 0, 0, 0};
  const bool stillSends = handle != kNoHandle && access.SendFeature(handle, after);
  const std::string reason = access.Failed(Phrase::Literal("link query")).failure.English();
  checks.Check("gone_after_unplug",
               !stillSends && access.LastFailure().gone && access.LastFailure().osError == ENODEV,
               "\"" + reason + "\"");
  access.CloseDevice(handle);
  handle = kNoHandle;

  // Plug again: the same unit, found afresh.
  mark = seen.size();
  auto [again, replugAt] = say("plug");
  const bool back =
      again && host.RunUntil([&] { return count(Kind::Arrived, mark) >= 3; }, kEventTimeoutMs);
  intptr_t reopenedHandle = kNoHandle;
  if (back)
    if (const auto reopened = finder.OpenFirst(std::nullopt)) reopenedHandle = reopened->handle;
  ReportBuffer check{1, 0x03, 30, 0, 0, 0, 0, 0, 0};
  const bool answers =
      reopenedHandle != kNoHandle && Transact(access, reopenedHandle, check) && check == expected;
  checks.Check(
      "replug", answers,
      "kernel uevents:" + paths(mark) + "; register 30 " + Hex(check.data(), check.size()));
  if (answers) checks.Figure("replug_to_ready_ms", (MonotonicUs() - replugAt) / 1000.0);
  access.CloseDevice(reopenedHandle);
  ::close(control);

  // The same nodes as an unprivileged user, in a child of its own.
  std::cout << std::flush;
  const pid_t child = ::fork();
  if (child == 0) ::_exit(UnprivilegedChecks(unprivileged));
  int status = 0;
  const bool childOk = child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                       WEXITSTATUS(status) == 0;
  checks.Check("unprivileged", childOk, "as uid " + std::to_string(unprivileged));

  std::cout << "CHECKS passed=" << checks.Passed() << " failed=" << checks.Failed() << std::endl;
  return checks.Failed() == 0 ? 0 : 1;
}

}  // namespace
}  // namespace korvel

int main(int argc, char** argv) {
  std::string control;
  uid_t user = 65534;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--control" && i + 1 < argc)
      control = argv[++i];
    else if (a == "--user" && i + 1 < argc)
      user = uid_t(std::strtoul(argv[++i], nullptr, 10));
    else {
      std::cerr << "usage: korvel-hidraw-check --control FIFO [--user UID]\n";
      return 2;
    }
  }
  if (control.empty()) {
    std::cerr << "korvel-hidraw-check: --control FIFO is needed (korvel-uhid-rx's commands)\n";
    return 2;
  }
  return korvel::Run(control, user);
}
