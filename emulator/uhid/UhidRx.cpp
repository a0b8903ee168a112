#ifdef __linux__
#include "UhidRx.h"

#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>

namespace korvel {

namespace {

const char* const kInterfaceNames[] = {"mouse", "keyboard", "vendor"};

std::string InterfaceName(size_t index) {
  return index < std::size(kInterfaceNames) ? kInterfaceNames[index] : std::to_string(index);
}

std::string Bytes(const uint8_t* data, size_t size) {
  std::string text;
  char hex[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(hex, sizeof hex, i ? " %02x" : "%02x", data[i]);
    text += hex;
  }
  return text;
}

const char* ReportType(uint8_t rtype) {
  switch (rtype) {
    case UHID_FEATURE_REPORT:
      return "feature";
    case UHID_OUTPUT_REPORT:
      return "output";
    case UHID_INPUT_REPORT:
      return "input";
  }
  return "?";
}

// Fixed-size text fields of the create request, always terminated.
template <size_t N>
void Copy(uint8_t (&field)[N], const std::string& text) {
  const size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  field[n] = 0;
}

bool ParseCount(const std::string& text, int& count) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || value < -1 || value > 1000000) return false;
  count = int(value);
  return true;
}

// The system's monotonic clock, which every process in the machine shares: the programs
// beside this one can set their kernel events against its plug and unplug lines.
std::string MonotonicUs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return std::to_string(int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000);
}

}  // namespace

UhidRx::UhidRx(Host& host, Opener opener, Options options, std::ostream& out, std::ostream& log)
    : host_(host), opener_(std::move(opener)), options_(std::move(options)), out_(out), log_(log) {
  NewUnit();
}

UhidRx::~UhidRx() {
  DestroyPorts();
  if (unit_.rx) unit_.rx->SetPlugObserver(nullptr);
}

const char* UhidRx::Commands() {
  return "  plug                  plug the unit on the bench (its interfaces become hidraw nodes)\n"
         "  unplug                pull it\n"
         "  next                  the unit leaves (pulled first); a fresh one is plugged\n"
         "  fault NAME [COUNT]    inject one of the emulator's faults into the unit\n"
         "  clear-faults          clear them\n"
         "  tx on|off             the mouse's power\n"
         "  tx in|out             the mouse within radio range or out of it\n"
         "  tx bind|nobind        the mouse's bind button held or released\n"
         "  images                print every unit's device images now\n"
         "  quit                  pull the unit and end\n"
         "  (blank lines and lines starting with # are skipped)\n";
}

void UhidRx::NewUnit() {
  if (unit_.rx) {
    unit_.rx->SetPlugObserver(nullptr);
    Finish(unit_);
    doneUnits_.push_back(unit_);
  }
  const int number = unit_.number + 1;
  EmulatedRx::Config config = options_.rx;
  // As `korvel-rf simulate` makes its units, so the same station gives the same images.
  config.seed = uint32_t(number);
  config.instance = number;
  unit_ = Unit{};
  unit_.number = number;
  unit_.rx = std::make_shared<EmulatedRx>(host_, config);
  unit_.tx = std::make_shared<EmulatedTx>();
  unit_.tx->SetPowered(true, host_.TickCount());
  unit_.rx->SetTx(unit_.tx);
  unit_.images.rxBefore = unit_.rx->Registers();
  unit_.images.txBefore = unit_.tx->EepromBytes();
  // On the bench, not yet in the port.
  unit_.rx->Unplug();
  unit_.rx->SetPlugObserver([this](bool plugged) {
    if (!plugged) pulledByModel_ = true;
  });
  for (const auto& [name, count] : options_.faults) unit_.rx->InjectFault(name, count);
}

void UhidRx::Finish(Unit& unit) const {
  unit.images.rxAfter = unit.rx->Registers();
  unit.images.txAfter = unit.tx->EepromBytes();
  unit.images.reportsSent = unit.rx->ReportsReceived();
  unit.images.reportsFetched = unit.rx->ReportsFetched();
}

void UhidRx::Note(const std::string& line) {
  log_ << "korvel-uhid-rx: " << line << "\n" << std::flush;
}

bool UhidRx::Send(const Port& port, const void* event, const char* what) {
  ssize_t n;
  do n = ::write(port.fd, event, sizeof(uhid_event));
  while (n < 0 && errno == EINTR);
  if (n == ssize_t(sizeof(uhid_event))) return true;
  Note(std::string(what) + " on the " + InterfaceName(port.index) +
       " interface failed: " + (n < 0 ? std::strerror(errno) : "short write"));
  return false;
}

bool UhidRx::Plug(std::string& error) {
  if (Plugged()) return true;
  const auto interfaces = unit_.rx->Interfaces();
  // Named as usbhid names the interfaces of one USB device, so the interfaces read as
  // siblings: "<device>/input<interface number>".
  const std::string device =
      "korvel-uhid-rx-" + std::to_string(::getpid()) + "/unit" + std::to_string(unit_.number);
  for (size_t i = 0; i < interfaces.size(); ++i) {
    const int fd = opener_();
    if (fd < 0) {
      const int code = errno;
      error = "cannot open /dev/uhid: " + std::string(std::strerror(code)) +
              (code == ENOENT ? " (is the uhid module loaded?)" : "");
      DestroyPorts();
      return false;
    }
    ports_.push_back({fd, i});
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req& create = event.u.create2;
    Copy(create.name, "KORVEL 2.4G RX " + InterfaceName(i) + " (emulated)");
    Copy(create.phys, device + "/input" + std::to_string(i));
    const std::vector<uint8_t>& descriptor = EmulatedRx::ReportDescriptor(i);
    create.rd_size = uint16_t(descriptor.size());
    std::copy(descriptor.begin(), descriptor.end(), create.rd_data);
    create.bus = BUS_USB;
    create.vendor = interfaces[i].attributes.VendorID;
    create.product = interfaces[i].attributes.ProductID;
    create.version = interfaces[i].attributes.VersionNumber;
    if (!Send(ports_.back(), &event, "UHID_CREATE2")) {
      error = "the kernel refused to create the " + InterfaceName(i) + " interface";
      DestroyPorts();
      return false;
    }
  }
  pulledByModel_ = false;
  unit_.rx->Plug();
  Note("plugged unit=" + std::to_string(unit_.number) + " t_us=" + MonotonicUs());
  return true;
}

void UhidRx::DestroyPorts() {
  // An answer given meanwhile may find the unit pulled: the destroy in hand goes on.
  if (destroying_) return;
  destroying_ = true;
  for (size_t next = 0; next < ports_.size(); ++next) {
    const Port port = ports_[next];
    // Taking a device down, the kernel and the station may still ask the interfaces not yet
    // gone something, and the destroy may wait for those answers: they go on while it runs
    // on a thread of its own.
    std::atomic<bool> done{false};
    ssize_t written = 0;
    int error = 0;
    std::thread destroy([&done, &written, &error, fd = port.fd] {
      uhid_event event{};
      event.type = UHID_DESTROY;
      do written = ::write(fd, &event, sizeof event);
      while (written < 0 && errno == EINTR);
      error = errno;
      done = true;
    });
    while (!done) {
      std::vector<pollfd> live;
      // Not the one being destroyed: reading it would wait for the destroy itself.
      for (size_t i = next + 1; i < ports_.size(); ++i) live.push_back({ports_[i].fd, POLLIN, 0});
      if (live.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      if (::poll(live.data(), live.size(), 5) <= 0) continue;
      for (const pollfd& p : live)
        if (p.revents & POLLIN) Dispatch(p.fd);
    }
    destroy.join();
    if (written != ssize_t(sizeof(uhid_event)))
      Note("UHID_DESTROY on the " + InterfaceName(port.index) +
           " interface failed: " + (written < 0 ? std::strerror(error) : "short write"));
    ::close(port.fd);
    if (options_.trace) Note(InterfaceName(port.index) + " destroyed t_us=" + MonotonicUs());
  }
  ports_.clear();
  destroying_ = false;
}

void UhidRx::Unplug() {
  if (!Plugged()) return;
  if (options_.trace)
    Note("pulling unit=" + std::to_string(unit_.number) + " t_us=" + MonotonicUs());
  DestroyPorts();
  unit_.rx->Unplug();
  pulledByModel_ = false;
  Note("unplugged unit=" + std::to_string(unit_.number) + " t_us=" + MonotonicUs());
}

bool UhidRx::NextUnit(std::string& error) {
  Unplug();
  NewUnit();
  return Plug(error);
}

std::vector<int> UhidRx::Descriptors() const {
  std::vector<int> fds;
  for (const Port& port : ports_) fds.push_back(port.fd);
  return fds;
}

void UhidRx::Dispatch(int fd) {
  const auto port =
      std::find_if(ports_.begin(), ports_.end(), [fd](const Port& p) { return p.fd == fd; });
  if (port == ports_.end()) return;
  const Port here = *port;
  const std::string name = InterfaceName(here.index);
  uhid_event in{};
  ssize_t n;
  do n = ::read(fd, &in, sizeof in);
  while (n < 0 && errno == EINTR);
  if (n <= 0) {
    if ((n < 0 && errno == EAGAIN) || destroying_) return;
    Note("reading the " + name + " interface's events failed: " +
         (n < 0 ? std::string(std::strerror(errno)) : std::string("end of file")) +
         "; the unit is pulled");
    Unplug();
    return;
  }
  const uint16_t featureLength = unit_.rx->Interfaces()[here.index].featureLength;
  uhid_event out{};
  switch (in.type) {
    case UHID_GET_REPORT: {
      const uhid_get_report_req& request = in.u.get_report;
      out.type = UHID_GET_REPORT_REPLY;
      uhid_get_report_reply_req& reply = out.u.get_report_reply;
      reply.id = request.id;
      // The report ID travels as rnum; the model takes it in byte 0, as a host passes it.
      // What the model answers goes back whole: byte 0 is the dongle's, the kernel adds
      // no report ID to it.
      uint8_t buffer[kReportSize] = {request.rnum};
      const bool ok = request.rtype == UHID_FEATURE_REPORT && featureLength == kReportSize &&
                      unit_.rx->GetFeature(here.index, buffer, kReportSize);
      reply.err = ok ? 0 : EIO;
      reply.size = ok ? uint16_t(kReportSize) : 0;
      if (ok) std::memcpy(reply.data, buffer, kReportSize);
      if (options_.trace)
        Note(name + " GET_REPORT id=" + std::to_string(request.id) +
             " rnum=" + std::to_string(request.rnum) + " rtype=" + ReportType(request.rtype) +
             " -> " + (ok ? Bytes(buffer, kReportSize) : std::string("refused")));
      Send(here, &out, "UHID_GET_REPORT_REPLY");
      break;
    }
    case UHID_SET_REPORT: {
      const uhid_set_report_req& request = in.u.set_report;
      out.type = UHID_SET_REPORT_REPLY;
      out.u.set_report_reply.id = request.id;
      const size_t size = std::min<size_t>(request.size, UHID_DATA_MAX);
      const bool ok = request.rtype == UHID_FEATURE_REPORT && featureLength != 0 &&
                      unit_.rx->SetFeature(here.index, request.data, size);
      out.u.set_report_reply.err = ok ? 0 : EIO;
      if (options_.trace)
        Note(name + " SET_REPORT id=" + std::to_string(request.id) +
             " rnum=" + std::to_string(request.rnum) + " rtype=" + ReportType(request.rtype) + " " +
             Bytes(request.data, size) + " -> " + (ok ? "ok" : "refused"));
      Send(here, &out, "UHID_SET_REPORT_REPLY");
      break;
    }
    case UHID_START:
      if (options_.trace) Note(name + " START flags=" + std::to_string(in.u.start.dev_flags));
      break;
    case UHID_OPEN:
    case UHID_CLOSE:
    case UHID_STOP:
      if (options_.trace)
        Note(name + (in.type == UHID_OPEN ? " OPEN" : in.type == UHID_CLOSE ? " CLOSE" : " STOP"));
      break;
    case UHID_OUTPUT:
      // The keyboard's LEDs; nothing in the model lights.
      if (options_.trace)
        Note(name + " OUTPUT " + Bytes(in.u.output.data, std::min<size_t>(in.u.output.size, 64)));
      break;
    default:
      if (options_.trace) Note(name + " event " + std::to_string(in.type));
      break;
  }
  // rx-gone: the transfer in hand failed as on a pulled dongle; now the devices go.
  ReleaseIfPulled();
}

void UhidRx::ReleaseIfPulled() {
  if (!pulledByModel_ || destroying_) return;
  pulledByModel_ = false;
  DestroyPorts();
  Note("unplugged unit=" + std::to_string(unit_.number) + " t_us=" + MonotonicUs() + " (rx-gone)");
}

bool UhidRx::Command(const std::string& line, std::string& error) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty() || words[0][0] == '#') return true;
  const std::string& verb = words[0];
  auto arity = [&](size_t min, size_t max) {
    if (words.size() - 1 >= min && words.size() - 1 <= max) return true;
    error =
        "'" + verb + "' takes " +
        (min == max ? std::to_string(min) : std::to_string(min) + " or " + std::to_string(max)) +
        " argument" + (max == 1 ? "" : "s");
    return false;
  };
  if (verb == "plug") return arity(0, 0) && Plug(error);
  if (verb == "unplug") {
    if (!arity(0, 0)) return false;
    Unplug();
    return true;
  }
  if (verb == "next") return arity(0, 0) && NextUnit(error);
  if (verb == "fault") {
    if (!arity(1, 2)) return false;
    int count = -1;
    if (words.size() == 3 && !ParseCount(words[2], count)) {
      error = "fault: COUNT is a whole number (-1: until cleared), not '" + words[2] + "'";
      return false;
    }
    if (!unit_.rx->InjectFault(words[1], count)) {
      error = "fault: unknown fault '" + words[1] + "'";
      return false;
    }
    // rx-gone now: the model pulled itself.
    if (pulledByModel_) {
      pulledByModel_ = false;
      DestroyPorts();
      Note("unplugged unit=" + std::to_string(unit_.number) + " t_us=" + MonotonicUs() +
           " (rx-gone)");
    }
    return true;
  }
  if (verb == "clear-faults") {
    if (!arity(0, 0)) return false;
    unit_.rx->ClearFaults();
    return true;
  }
  if (verb == "tx") {
    if (!arity(1, 1)) return false;
    const std::string& what = words[1];
    if (what == "on" || what == "off")
      unit_.tx->SetPowered(what == "on", host_.TickCount());
    else if (what == "in" || what == "out")
      unit_.tx->SetInRange(what == "in");
    else if (what == "bind" || what == "nobind")
      unit_.tx->SetBindMode(what == "bind");
    else {
      error = "tx: on, off, in, out, bind or nobind, not '" + what + "'";
      return false;
    }
    return true;
  }
  if (verb == "images") {
    if (!arity(0, 0)) return false;
    out_ << ImagesJson() << std::flush;
    return true;
  }
  if (verb == "quit") {
    if (!arity(0, 0)) return false;
    Unplug();
    done_ = true;
    return true;
  }
  error = "unknown command '" + verb + "'";
  return false;
}

std::string UhidRx::ImagesJson() const {
  std::vector<Unit> units = doneUnits_;
  units.push_back(unit_);
  std::string json = "{\"units\":[";
  for (size_t i = 0; i < units.size(); ++i) {
    Unit& unit = units[i];
    if (i + 1 == units.size()) Finish(unit);
    json += (i ? ",{" : "{") + std::string("\"unit\":") + std::to_string(unit.number) + "," +
            DeviceImagesJsonMembers(unit.images) + "}";
  }
  return json + "]}\n";
}

}  // namespace korvel
#endif
