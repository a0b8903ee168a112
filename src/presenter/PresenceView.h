// What the operator sees of the devices coming, going, binding and answering: the lamps, the
// link picture, the RX/TX lines, the buttons the state allows, and the messages the monitor's
// events call for.
#pragma once

#include <functional>
#include <string>

#include "presence/PresenceMonitor.h"
#include "presenter/RunView.h"
#include "ui/ViewState.h"

namespace korvel {

struct PresenceViewHooks {
  // A line for the engineer's trace.
  std::function<void(const std::string&)> trace;
  // A link tick ran to its end: the presenter decides whether Go runs by itself.
  std::function<void()> linkTickEnded;
};

class PresenceView final : public PresenceListener {
 public:
  PresenceView(ViewState& view, StationView& ui, RunView& run, PresenceViewHooks hooks);
  void OnPresence(const PresenceChange& change) override;

 private:
  ViewState& view_;
  StationView& ui_;
  RunView& run_;
  PresenceViewHooks hooks_;
};

// The message for a dongle this user may not open, with the way to let them.
// `installedRule`: the udev rule found in place, or empty.
Phrase PermissionHint(const VidPid& id, const std::string& installedRule);

}  // namespace korvel
