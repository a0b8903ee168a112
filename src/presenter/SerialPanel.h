// The serial-number and link-ID panel: the four generators on their controls, and the checks
// of every entry before it reaches a generator. Every accepted change goes through the
// generators' setters; the caller saves it at once, so numbering survives a crash.
#pragma once

#include <string>

#include "production/NumberingLedger.h"
#include "ui/ViewState.h"

namespace korvel {

class SerialPanel {
 public:
  SerialPanel(ViewState& view, NumberingLedger& ledger) : view_(view), ledger_(ledger) {}

  // The four generators on the panel's controls; a counter about to come round shows its
  // next value in red.
  void Refresh();

  struct Change {
    bool handled = false;  // the control is one of the panel's
    bool changed = false;  // a generator took the entry: save it
    Phrase refused;        // why the entry was not taken (the field shows the generator again)
  };
  // An operator's entry in one of the panel's controls.
  Change Take(const std::string& name, const ControlState& state);

 private:
  Change Refused(Phrase why);

  ViewState& view_;
  NumberingLedger& ledger_;
};

}  // namespace korvel
