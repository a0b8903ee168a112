// One unit end to end as the operator runs it: Go times the Set TX run, hands the result on
// and releases the RX; Set TX draws the unit's numbers, runs the programmer and commits the
// numbering (saved before PASS is shown); and the erase actions of the serial panel.
#include <filesystem>

#include "platform/ProcessControl.h"
#include "platform/Text.h"
#include "presenter/StationPresenter.h"

namespace korvel {

std::string RunTimeText(uint64_t ms) {
  // Three decimals always: 2,005 ms is "2.005", never "2.5", which would read as 2.5 s.
  std::string thousandths = std::to_string(ms % 1000);
  thousandths.insert(0, 3 - thousandths.size(), '0');
  return std::to_string(ms / 1000) + "." + thousandths;
}

std::string ReadinessMessage(bool txReady, bool rxReady) {
  std::string text;
  GetText(36, text);
  text += "\r\n";
  if (!txReady) text += "* Mouse TX\r\n";
  if (!rxReady) text += "* Mouse RX\r\n";
  return text;
}

void StationPresenter::Progress(int position) {
  view_["pbSetTX"].value = position;
  Paint();
}

void StationPresenter::TxSerialShown(const std::string& text) {
  view_["edtTX_SN"].text = text;
}

void StationPresenter::LinkIdShown(const std::string& text) {
  view_["edtMseDongleAddr"].text = text;
  Paint();
}

void StationPresenter::RxSerialShown(const std::string& text) {
  view_["edtRX_SN"].text = text;
}

void StationPresenter::PhaseShown(Phase phase) {
  if (phase == Phase::Move) {
    view_["lblResult"].text = "Move";
    view_["lblResult"].color = "green";
  } else {
    view_["lblResult"].text = "Wait";
    view_["Image2"].visible = true;
  }
  Paint();
}

void StationPresenter::VidPidCleared() {
  view_["edtVID_SET"].text.clear();
  view_["edtPID_SET"].text.clear();
}

void StationPresenter::btnSetTXClick() {
  if (programmer_.Running()) return;
  presence_.SetProductionBusy(true);
  view_["lblResult"].text.clear();
  ShowReason({});
  view_["Image1"].visible = false;
  // A VID or PID that is not hexadecimal stops the run before anything reaches a device.
  page_.FieldWord("edtVID_SET");
  page_.FieldWord("edtPID_SET");
  // A station refused its TX.ini at start takes it as soon as the other one lets go.
  if (!file_.Claimed() && ClaimStation()) {
    btnLoadSettingClick();
    OpenRecord();
  }
  RunResult result = production_.Run(CurrentSettings(), *this);
  RefreshSerialPanel();
  if (result.stage == RunStage::Refused)
    Tell("dlgError", Say("Nothing was written to the unit: {0}", result.failedStep));
  else if (result.stage == RunStage::Saved)
    // The unit is good, but its numbers are not safely kept: stop the line.
    Tell("dlgError", Say("The unit was written, but {0}.\nDo not ship this unit; fix the cause "
                         "and run it again (its numbers stay given: it gets new ones).",
                         result.failedStep));
  else if (result.stage == RunStage::Recorded)
    Tell("dlgError", Say("The unit was written, but {0}.\nDo not ship this unit; fix the cause "
                         "and run it again (it gets the same numbers).",
                         result.failedStep));
  CountYield(result);
  ShowYield();
  lastRun_ = result;
  ShowResult(result);
  presence_.SetProductionBusy(false);
}

void StationPresenter::ShowResult(const RunResult& result) {
  view_["lblResult"].text = result.pass ? "PASS" : "FAIL";
  view_["lblResult"].color = result.pass ? "blue" : "red";
  ShowReason(result.failedStep);
  view_["Image2"].visible = false;
  view_["Image1"].visible = true;
  Paint();
}

void StationPresenter::btnGoClick() {
  ++goRequests_;
  // Not during a run, whether Go's own or one the engineering page started: it would report
  // another run's result and close the RX under it.
  if (presence_.GoRunning() || programmer_.Running()) return;
  presence_.GoStarted();  // a link check in progress stands aside
  // 1. and 2.
  presence_.DetectHIDDeviceCounter().SetEnabled(false);
  view_["btnGo"].enabled = false;
  for (const char* name : {"edtCaliTime", "lblResult", "edtTX_SN", "edtRX_SN", "edtMseDongleAddr"})
    view_[name].text.clear();
  ShowReason({});
  view_["Image1"].visible = false;
  // 3. Both sides must be ready.
  const bool tx = presence_.TxLampOn(), rx = presence_.RxLampOn();
  if (!tx || !rx) {
    Paint();
    ui_.ShowMessage("dlgError", "Message", ReadinessMessage(tx, rx));
    // Detection comes back so the tool recovers by itself once the devices are ready.
    presence_.DetectHIDDeviceCounter().SetEnabled(true);
    presence_.GoEnded();
    Paint();
    return;
  }
  // 4. and 5. The timed run.
  presence_.tmrIsTxLink().SetEnabled(false);
  const uint64_t start = env_.host.TickCount();
  btnSetTXClick();
  lastRun_.ms = env_.host.TickCount() - start;
  view_["edtCaliTime"].text = RunTimeText(lastRun_.ms);
  Paint();
  env_.host.ProcessMessages();
  // 7. The automatic programming tool, for passed units only.
  if (view_["CallMAPX"].checked && lastRun_.pass) {
    const std::filesystem::path tool =
        std::filesystem::absolute(env_.workingDirectory) / kMapxProgram;
    std::error_code ec;
    if (std::filesystem::exists(tool, ec)) {
      if (env_.startProgram)
        env_.startProgram(tool.string());
      else
        StartDetached(tool.string());
    }
  }
  // 8. The loader that started us learns the result from its window title.
  if (autoStart_) {
    const std::string title = lastRun_.pass ? "PASS" : "FAIL";
    if (env_.reportToLoader)
      env_.reportToLoader(title);
    else
      RetitleWindow("TApplication", "KRVRF MFP Loader", title);
  }
  // 9. Release the RX; detection finds the next unit.
  presence_.EnterNotReady();
  presence_.DetectHIDDeviceCounter().SetEnabled(true);
  link_.Close();
  presence_.GoEnded();
  Paint();
}

void StationPresenter::btnEraseTXClick() {
  if (!view_["TX_Erased"].checked || !link_.HaveRx()) return;
  int failedAt = -1;
  const Status erased = console_.EraseTx(failedAt);
  Paint();
  if (erased)
    ui_.ShowMessage("", "", "TX Erased");
  else if (failedAt < 0)
    Tell("", Say("TX erase failed before the first EEPROM address: {0}", erased.failure));
  else
    Tell("", Say("TX erase failed at EEPROM address {0}: {1}", HexText(uint32_t(failedAt), 2),
                 erased.failure));
}

void StationPresenter::btnEraseRXClick() {
  if (!view_["RX_Erased"].checked || !link_.HaveRx()) return;
  int failedAt = -1;
  const Status erased = console_.EraseRx(failedAt);
  Paint();
  if (erased)
    ui_.ShowMessage("", "", "RX Erased");
  else
    Tell("", Say("RX erase failed at register {0}: {1}", failedAt, erased.failure));
}

}  // namespace korvel
