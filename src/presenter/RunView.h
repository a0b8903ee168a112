// Go and Set TX as the operator sees them: the progress bar and the numbers as the run places
// them, the result with its reason and time, today's counts beside Go, and the dialogs that
// stop the line when a unit was refused or its numbers were not kept.
#pragma once

#include <functional>

#include "presenter/EngineeringPage.h"
#include "production/GoCycle.h"
#include "production/LocalDate.h"
#include "ui/ViewState.h"

namespace korvel {

// Today's units at this station, for the yield shown beside Go.
struct YieldCount {
  int pass = 0;
  int fail = 0;
  LocalDate day;
  uint64_t since = 0;  // tick of the program's start (or the engineer's reset)
  int passSince = 0;
};

class RunView final : public GoObserver {
 public:
  struct Hooks {
    std::function<void()> paint;
    // Before the unit is numbered: the station takes its TX.ini over when it is free again.
    std::function<void()> beforeRun;
    // After it: the serial panel shows the numbering as it now stands.
    std::function<void()> afterRun;
  };
  RunView(ViewState& view, StationView& ui, EngineeringPage& page, Settings& settings, Host& host,
          DateSource today, Hooks hooks);

  // Why the last unit failed, below its result; with none, the idle note.
  void ShowReason(Phrase reason);
  // Another unit is plugged: the last one's result goes.
  void ClearResult();
  // The reason line and the yield line in the current language.
  void ApplyTexts();
  // Today's counts as the record has them, and the engineer's reset.
  void SetToday(int pass, int fail);
  void ResetYield();
  const YieldCount& Yield() const { return yield_; }
  // What the reason line shows when no failure is there to tell.
  std::function<Phrase()> idleNote;
  // The idle note again, as the station's state moved on; true when the line changed.
  bool RefreshNote();

  // GoObserver
  void NotReady(DeviceHold::Readiness ready) override;
  void Starting() override;
  void Ended(const RunResult& result) override;
  void Timed(uint64_t ms) override;
  void Progress(int position) override;
  void TxSerialShown(const std::string& text) override;
  void LinkIdShown(const std::string& text) override;
  void RxSerialShown(const std::string& text) override;
  void PhaseShown(Phase phase) override;
  void VidPidCleared() override;
  void RegisterStaged(uint8_t reg, uint8_t value) override { page_.ShowStaged(reg, value); }

 private:
  void Tell(const Phrase& text);
  void ShowYield();
  void Count(const RunResult& result);

  ViewState& view_;
  StationView& ui_;
  EngineeringPage& page_;
  Settings& settings_;
  Host& host_;
  DateSource today_;
  Hooks hooks_;
  Phrase reason_;
  YieldCount yield_;
};

// A run's duration as the window shows it: seconds, a dot, three digits of milliseconds.
std::string RunTimeText(uint64_t ms);
// Go's devices-not-ready message: text 36, then the missing sides, TX before RX.
std::string ReadinessMessage(bool txReady, bool rxReady);

}  // namespace korvel
