// Scenes an operator or engineer reaches by hand, for the documentation's pictures, the same in
// both windows: "engineer" unlocks the settings with the pass phrase and opens the serial-number
// panel (both serial numbers on) and the engineering page; "fail" runs Go on a unit whose link
// does not come back after the reload. Any other name leaves the window as it started.
#pragma once

#include <optional>
#include <string>

#include "EmulatedRx.h"
#include "connection/StationPresenter.h"

namespace korvel {

template <class Window>
void PlayScene(const std::string& scene, Window& form, EmulatedRx& rx) {
  StationPresenter& station = form.station();
  if (scene == "engineer") {
    form.PasswordHook = [] { return std::optional<std::string>(kPassPhrase); };
    for (int i = 0; i < 5; ++i) station.imgLogoDblClick();
    station.ToggleEngineerView();
    for (const char* box : {"cbRX_IsSN", "cbTX_IsSN"}) {
      ControlState on = station.View()[box];
      on.checked = true;
      station.ControlChanged(box, on);
    }
  } else if (scene == "fail") {
    rx.InjectFault("no-link-after-reload");
    station.btnGoClick();
  }
  form.Render(station.View());
}

}  // namespace korvel
