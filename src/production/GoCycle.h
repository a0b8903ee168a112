// One Go as the line runs it: the devices are held for it (detection and the link check stand
// aside), both sides must be ready, the unit is run (and timed by the run itself), a passed
// unit starts the programming tool, a loader that started the station learns the result from
// its window title, and the RX is released so detection finds the next unit.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "production/ProductionRun.h"

namespace korvel {

// What Go needs of the presence monitoring above it.
class DeviceHold {
 public:
  struct Readiness {
    bool rx = false;
    bool tx = false;
  };
  virtual ~DeviceHold() = default;
  // Go has the devices: detection and the link check stand aside until it lets go.
  virtual void Hold() = 0;
  // A run is writing the unit (Go's, or the engineer's Set TX): checks wait for its end.
  virtual void Writing(bool writing) = 0;
  virtual bool Held() const = 0;
  virtual Readiness Ready() const = 0;
  // As before Hold: nothing was run.
  virtual void Resume() = 0;
  // The not-ready state; detection finds the next unit.
  virtual void ReleaseUnit() = 0;
};

// What the operator sees of a Go beyond the run's own progress.
class GoObserver : public RunObserver {
 public:
  // A side is not ready; the devices are still held.
  virtual void NotReady(DeviceHold::Readiness) {}
  // Both sides are ready: last checks and settings before the unit is numbered.
  virtual void Starting() {}
  // The run is over (before the programming tool, the loader and the release).
  virtual void Ended(const RunResult&) {}
  // Go's own: the device run's time, once the result is shown.
  virtual void Timed(uint64_t /*ms*/) {}
};

// Where a passed unit and a loader are handed on.
struct GoHandoff {
  std::filesystem::path workingDirectory = ".";
  std::function<bool(const std::string&)> startProgram;    // empty: a detached process
  std::function<bool(const std::string&)> reportToLoader;  // empty: the loader's window
};

// The external programming tool, in the working directory.
constexpr const char* kMapxProgram = "MAPX_RF_auto.exe";

class GoCycle {
 public:
  GoCycle(ProductionRun& run, UnitProgrammer& programmer, RxLink& link, DeviceHold& hold,
          Host& host, GoHandoff handoff);

  // `settings` is read when the run starts (after Starting). `programmingTool`: start it for a
  // passed unit; `loader`: a loader started the station and learns the result.
  void Go(const Settings& settings, bool programmingTool, bool loader, GoObserver& observer);
  // Set TX alone (the engineering page): the run without Go's hold and hand-offs.
  void SetTx(const Settings& settings, GoObserver& observer);
  // A Go or a Set TX is going on: another press does nothing.
  bool Busy() const { return hold_.Held() || programmer_.Running() || settingUp_; }
  const RunResult& LastRun() const { return last_; }
  // Presses of Go, counted even when they did nothing.
  int Requests() const { return requests_; }
  // Runs started by Go or Set TX (LastRun is the latest's), refused ones among them.
  int Runs() const { return runs_; }

 private:
  // One run with the devices held for writing, told to the observer.
  void RunOnce(const Settings& settings, GoObserver& observer);
  void HandOff(bool programmingTool, bool loader);

  ProductionRun& run_;
  UnitProgrammer& programmer_;
  RxLink& link_;
  DeviceHold& hold_;
  Host& host_;
  GoHandoff handoff_;
  RunResult last_;
  int requests_ = 0;
  int runs_ = 0;
  bool settingUp_ = false;
};

}  // namespace korvel
