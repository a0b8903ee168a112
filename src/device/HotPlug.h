// Word from the system that HID interfaces came or went, so detection runs at once instead of
// at its next tick. One dongle brings several interfaces: events come in bursts.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Host.h"
#include "platform/Status.h"

namespace korvel {

struct HotPlugEvent {
  enum class Kind { Arrived, Left };
  Kind kind = Kind::Arrived;
  std::string path;  // the interface as the system names it (/dev/hidraw3, \\?\HID#...)
};

class HotPlugSource {
 public:
  using Sink = std::function<void(const HotPlugEvent&)>;
  virtual ~HotPlugSource() = default;
  // Starts watching; events reach sink on the host's message loop. False, with the reason,
  // when this system gives no such word (the caller then relies on its timer).
  virtual Status Start(Host& host, Sink sink) = 0;
  // What watches, for the engineer's trace ("kernel uevents", "device notifications").
  virtual std::string Name() const = 0;
};

// Linux: the kernel's uevent netlink socket, hidraw subsystem. Windows: CM_Register_Notification
// for the HID interface class. The opener gives the socket (tests pass one end of a socketpair).
std::unique_ptr<HotPlugSource> CreateSystemHotPlugSource();

#ifndef _WIN32
class UeventHotPlugSource final : public HotPlugSource {
 public:
  // Returns a readable descriptor, or -1 with errno set.
  using Opener = std::function<int()>;
  explicit UeventHotPlugSource(Opener opener = nullptr);
  ~UeventHotPlugSource() override;
  Status Start(Host& host, Sink sink) override;
  std::string Name() const override { return "kernel uevents (hidraw)"; }
  // Reads every message waiting on the socket; one event per hidraw add or remove.
  void Dispatch();
  // One uevent message, as the kernel sends it ("add@/devices/...\0ACTION=add\0...") or as
  // udev forwards it (a "libudev" header, then the same properties); nullopt when it is not
  // a hidraw interface arriving or leaving.
  static std::optional<HotPlugEvent> Parse(const char* data, size_t size);

 private:
  Opener opener_;
  int fd_ = -1;
  Sink sink_;
  std::unique_ptr<HostWatch> watch_;
};
#endif

}  // namespace korvel
