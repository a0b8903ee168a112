#include "presenter/RunView.h"

#include "localization/Lang.h"

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

RunView::RunView(ViewState& view, StationView& ui, EngineeringPage& page, Settings& settings,
                 Host& host, DateSource today, Hooks hooks)
    : view_(view),
      ui_(ui),
      page_(page),
      settings_(settings),
      host_(host),
      today_(std::move(today)),
      hooks_(std::move(hooks)) {
  yield_.day = today_();
  yield_.since = host_.TickCount();
}

void RunView::Tell(const Phrase& text) {
  ui_.ShowMessage("dlgError", "Message", Words(text));
}

void RunView::ShowReason(Phrase reason) {
  reason_ = std::move(reason);
  const Phrase shown = reason_.empty() && idleNote ? idleNote() : reason_;
  view_["lblReason"].text = Words(shown);
}

bool RunView::RefreshNote() {
  const std::string before = view_["lblReason"].text;
  ShowReason(reason_);
  return view_["lblReason"].text != before;
}

void RunView::ClearResult() {
  view_["lblResult"].text.clear();
  ShowReason({});
  view_["Image1"].visible = false;
  for (const char* name : {"edtMseDongleAddr", "edtTX_SN", "edtRX_SN", "edtCaliTime"})
    view_[name].text.clear();
  view_["pbSetTX"].value = 0;
}

void RunView::ApplyTexts() {
  ShowReason(reason_);
  ShowYield();
}

void RunView::SetToday(int pass, int fail) {
  yield_.pass = pass;
  yield_.fail = fail;
  ShowYield();
}

void RunView::ResetYield() {
  yield_.pass = yield_.fail = yield_.passSince = 0;
  yield_.since = host_.TickCount();
  ShowYield();
}

void RunView::ShowYield() {
  const uint64_t ms = host_.TickCount() - yield_.since;
  std::string rate = "-";
  if (ms >= 60000) rate = std::to_string(uint64_t(yield_.passSince) * 3600000 / ms);
  view_["lblYield"].text =
      Words(Say("Today PASS {0}  FAIL {1}  {2} units/h", yield_.pass, yield_.fail, rate));
}

void RunView::Count(const RunResult& result) {
  const LocalDate today = today_();
  if (today.year != yield_.day.year || today.month != yield_.day.month ||
      today.day != yield_.day.day) {
    yield_.pass = yield_.fail = 0;
    yield_.day = today;
  }
  // A Go refused before any device was touched wrote no unit.
  if (result.stage == RunStage::Refused) return;
  ++(result.pass ? yield_.pass : yield_.fail);
  if (result.pass) ++yield_.passSince;
}

void RunView::NotReady(DeviceHold::Readiness ready) {
  hooks_.paint();
  ui_.ShowMessage("dlgError", "Message", ReadinessMessage(ready.tx, ready.rx));
}

void RunView::Starting() {
  view_["lblResult"].text.clear();
  ShowReason({});
  view_["Image1"].visible = false;
  hooks_.beforeRun();
}

void RunView::Ended(const RunResult& result) {
  hooks_.afterRun();
  if (result.stage == RunStage::Refused)
    Tell(Say("Nothing was written to the unit: {0}", result.failedStep));
  else if (result.stage == RunStage::Saved)
    // The unit is good, but its numbers are not safely kept: stop the line.
    Tell(
        Say("The unit was written, but {0}.\nDo not ship this unit; fix the cause and run it "
            "again (its numbers stay given: it gets new ones).",
            result.failedStep));
  else if (result.stage == RunStage::Recorded)
    Tell(
        Say("The unit was written, but {0}.\nDo not ship this unit; fix the cause and run it "
            "again (it gets the same numbers).",
            result.failedStep));
  Count(result);
  ShowYield();
  view_["lblResult"].text = result.pass ? "PASS" : "FAIL";
  view_["lblResult"].color = result.pass ? "blue" : "red";
  ShowReason(result.failedStep);
  view_["Image2"].visible = false;
  view_["Image1"].visible = true;
  hooks_.paint();
}

void RunView::Timed(uint64_t ms) {
  view_["edtCaliTime"].text = RunTimeText(ms);
  hooks_.paint();
}

void RunView::Progress(int position) {
  view_["pbSetTX"].value = position;
  hooks_.paint();
}

void RunView::TxSerialShown(const std::string& text) {
  view_["edtTX_SN"].text = text;
}

void RunView::LinkIdShown(const std::string& text) {
  view_["edtMseDongleAddr"].text = text;
  hooks_.paint();
}

void RunView::RxSerialShown(const std::string& text) {
  view_["edtRX_SN"].text = text;
}

void RunView::PhaseShown(Phase phase) {
  if (phase == Phase::Move) {
    view_["lblResult"].text = "Move";
    view_["lblResult"].color = "green";
  } else {
    view_["lblResult"].text = "Wait";
    view_["Image2"].visible = true;
  }
  hooks_.paint();
}

void RunView::VidPidCleared() {
  settings_.VidSet.clear();
  settings_.PidSet.clear();
  view_["edtVID_SET"].text.clear();
  view_["edtPID_SET"].text.clear();
}

}  // namespace korvel
