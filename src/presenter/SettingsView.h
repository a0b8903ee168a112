// The settings model on the window. The controls edit the model (each change is taken into it
// through the binding table) and the model is shown on the controls; runs and detection read
// the model, never the controls' texts.
#pragma once

#include <string>

#include "config/Settings.h"
#include "ui/ViewState.h"

namespace korvel {

// Every setting's control(s) from the model, with what follows from them (the spin labels,
// the erase buttons, the keyboard-bind box).
void ShowSettings(const Settings& settings, ViewState& view);
// A control's new state taken into the model (a radio group keeps one button checked);
// false when the control shows no setting.
bool TakeSetting(Settings& settings, const std::string& control, const ControlState& state,
                 ViewState& view);
// The labels beside the two spin edits, from their values.
void ShowSpinLabels(ViewState& view);
// The erase buttons follow their check boxes.
void ShowEraseEnables(ViewState& view);

}  // namespace korvel
