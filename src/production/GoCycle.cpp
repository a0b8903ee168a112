#include "production/GoCycle.h"

#include "platform/ProcessControl.h"

namespace korvel {

GoCycle::GoCycle(ProductionRun& run, UnitProgrammer& programmer, RxLink& link, DeviceHold& hold,
                 Host& host, GoHandoff handoff)
    : run_(run),
      programmer_(programmer),
      link_(link),
      hold_(hold),
      host_(host),
      handoff_(std::move(handoff)) {}

void GoCycle::SetTx(const Settings& settings, GoObserver& observer) {
  if (programmer_.Running() || settingUp_) return;
  RunOnce(settings, observer);
}

void GoCycle::RunOnce(const Settings& settings, GoObserver& observer) {
  ++runs_;
  settingUp_ = true;
  hold_.Writing(true);
  observer.Starting();
  last_ = run_.Run(settings, observer);
  hold_.Writing(false);
  settingUp_ = false;
  observer.Ended(last_);
}

void GoCycle::Go(const Settings& settings, bool programmingTool, bool loader,
                 GoObserver& observer) {
  ++requests_;
  // Not during a run, whether Go's own or one the engineering page started: it would report
  // another run's result and close the RX under it.
  if (Busy()) return;
  hold_.Hold();
  const DeviceHold::Readiness ready = hold_.Ready();
  if (!ready.rx || !ready.tx) {
    observer.NotReady(ready);
    // Detection comes back so the station recovers by itself once the devices are ready.
    hold_.Resume();
    return;
  }
  RunOnce(settings, observer);
  // A refused unit never reached a device: it has no time to show.
  if (last_.stage != RunStage::Refused) observer.Timed(last_.ms);
  host_.ProcessMessages();
  HandOff(programmingTool, loader);
  // The RX is let go; detection finds the next unit.
  hold_.ReleaseUnit();
  link_.Close();
}

void GoCycle::HandOff(bool programmingTool, bool loader) {
  // The automatic programming tool, for passed units only.
  if (programmingTool && last_.pass) {
    const std::filesystem::path tool =
        std::filesystem::absolute(handoff_.workingDirectory) / kMapxProgram;
    std::error_code ec;
    if (std::filesystem::exists(tool, ec)) {
      if (handoff_.startProgram)
        handoff_.startProgram(tool.string());
      else
        StartDetached(tool.string());
    }
  }
  // The loader that started us learns the result from its window title.
  if (loader) {
    const std::string title = last_.pass ? "PASS" : "FAIL";
    if (handoff_.reportToLoader)
      handoff_.reportToLoader(title);
    else
      RetitleWindow("TApplication", "KRVRF MFP Loader", title);
  }
}

}  // namespace korvel
