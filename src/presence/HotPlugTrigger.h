// The system's word that devices came or went, turned into one detection once a burst of
// such words has settled. Word that comes while detection may not run (a run has the
// devices) waits until it may.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "device/HotPlug.h"
#include "platform/Host.h"
#include "platform/Status.h"

namespace korvel {

class HotPlugTrigger {
 public:
  // `mayDetect`: whether a detection may run now; `detect`: one that searches again.
  HotPlugTrigger(Host& host, std::function<bool()> mayDetect, std::function<void()> detect);

  // Without a source (or when it cannot start) the detection timer alone finds the devices.
  // The status says which, for the engineer's trace.
  void Start(HotPlugSource* source);
  bool Active() const { return active_; }
  const std::string& Status() const { return status_; }
  // Detections this word started.
  int Ticks() const { return ticks_; }
  // Detection may run again: word that waited is acted on after the settling time.
  void CatchUp();

 private:
  void OnEvent(const HotPlugEvent& event);
  void Settled();

  Host& host_;
  std::function<bool()> mayDetect_;
  std::function<void()> detect_;
  std::unique_ptr<HostTimer> settle_;
  bool active_ = false;
  bool pending_ = false;
  int ticks_ = 0;
  std::string status_ = "no hot-plug source: detection every 5.5 s";
};

}  // namespace korvel
