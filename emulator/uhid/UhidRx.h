// The emulator's dongle (and the mouse behind it over the radio) on a real kernel: each of the
// RX's interfaces becomes a uhid device, so the kernel makes real hidraw nodes, sysfs entries
// and uevents of it, and its feature reports are answered from the emulator's model.
#pragma once
#ifdef __linux__

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "DeviceImages.h"
#include "EmulatedRx.h"
#include "EmulatedTx.h"
#include "platform/Host.h"

namespace korvel {

class UhidRx {
 public:
  // A fresh descriptor speaking the uhid protocol (/dev/uhid; tests give one end of a
  // socketpair), or -1 with errno set.
  using Opener = std::function<int()>;
  struct Options {
    EmulatedRx::Config rx;
    // Injected into every unit put on the bench: name and count (-1: until cleared).
    std::vector<std::pair<std::string, int>> faults;
    // One line per uhid event and answer on the log.
    bool trace = false;
  };

  // Images go to `out` (the "images" command), notes and the trace to `log`.
  UhidRx(Host& host, Opener opener, Options options, std::ostream& out, std::ostream& log);
  ~UhidRx();
  UhidRx(const UhidRx&) = delete;
  UhidRx& operator=(const UhidRx&) = delete;

  // Creates one uhid device per interface of the unit on the bench; false with the reason
  // when the system refuses (no uhid module, no permission).
  bool Plug(std::string& error);
  void Unplug();
  bool Plugged() const { return !ports_.empty(); }
  // The unit on the bench leaves (pulled first) and a fresh one in factory state takes its
  // place, plugged.
  bool NextUnit(std::string& error);

  // One command line (Commands() lists them); false with the reason when it is not one.
  bool Command(const std::string& line, std::string& error);
  static const char* Commands();
  // After "quit".
  bool Done() const { return done_; }

  // Descriptors to watch; Dispatch answers the event waiting on one of them.
  std::vector<int> Descriptors() const;
  void Dispatch(int fd);

  // Every unit that was on the bench, in `korvel-rf simulate --json`'s form.
  std::string ImagesJson() const;

  EmulatedRx& Rx() { return *unit_.rx; }
  EmulatedTx& Tx() { return *unit_.tx; }
  int UnitNumber() const { return unit_.number; }

 private:
  struct Unit {
    int number = 0;
    std::shared_ptr<EmulatedRx> rx;
    std::shared_ptr<EmulatedTx> tx;
    DeviceImages images;  // the "before" halves; the rest is filled when the unit leaves
  };
  struct Port {
    int fd = -1;
    size_t index = 0;  // the interface, as EmulatedRx::Interfaces() lists it
  };

  void NewUnit();
  void Finish(Unit& unit) const;
  bool Send(const Port& port, const void* event, const char* what);
  void DestroyPorts();
  // The model pulled itself (rx-gone): its uhid devices go too.
  void ReleaseIfPulled();
  void Note(const std::string& line);

  Host& host_;
  Opener opener_;
  Options options_;
  std::ostream& out_;
  std::ostream& log_;
  Unit unit_;
  std::vector<Unit> doneUnits_;
  std::vector<Port> ports_;
  // The model pulled itself (rx-gone): the devices go once the event in hand is answered.
  bool pulledByModel_ = false;
  bool destroying_ = false;  // the ports are being taken down: their end is no pull
  bool done_ = false;
};

}  // namespace korvel

#endif
