// The demo's options and the scenes its pictures show, the same for both windows. A scene is
// what an operator or engineer reaches by hand: "engineer" unlocks the settings with the pass
// phrase and opens the serial-number panel (both serial numbers on) and the engineering page;
// "fail" runs Go on a unit whose link does not come back after the reload. Any other name leaves
// the window as it started.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "EmulatedRx.h"
#include "presenter/StationPresenter.h"

namespace korvel {

// The demo's own options; everything else goes to the window as the tool's parameters.
struct DemoOptions {
  std::string screenshot;   // save the window to this PNG after `after` ms, and leave
  int after = 12000;        // two detection rounds; 0 measures the start-up to a painted window
  bool userFolder = false;  // TX.ini and the record in the user's own data folder
  std::string scene;        // what the screenshot shows besides the start (PlayScene)
  std::vector<std::string> args;
};

inline DemoOptions ParseDemoOptions(const std::vector<std::string>& words) {
  DemoOptions o;
  for (const std::string& arg : words) {
    if (arg.rfind("--screenshot=", 0) == 0)
      o.screenshot = arg.substr(13);
    else if (arg.rfind("--after=", 0) == 0)
      o.after = std::atoi(arg.c_str() + 8);
    else if (arg == "--user-folder")
      o.userFolder = true;
    else if (arg.rfind("--scene=", 0) == 0)
      o.scene = arg.substr(8);
    else
      o.args.push_back(arg);
  }
  return o;
}

template <class Window>
void PlayScene(const std::string& scene, Window& form, EmulatedRx& rx) {
  StationPresenter& station = form.presenter();
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
