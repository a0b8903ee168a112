// A view without a window: it records what it is asked to show and answers the dialogs from
// a script. The companion prints its messages; tests and benchmarks read them.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/ViewState.h"

namespace korvel {

class ScriptedView final : public StationView {
 public:
  void Render(const ViewState&) override { ++renders; }
  void ShowMessage(const std::string& dialog, const std::string& caption,
                   const std::string& text) override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  std::optional<std::string> AskPassword() override;
  int AskLanguage(int preselected) override;
  int ScreenWidth() override { return 1920; }
  int ScreenHeight() override { return 1080; }

  // "dialog:text" for every message, in order.
  std::vector<std::string> messages;
  // Called for every message as well (the companion prints them).
  std::function<void(const std::string& dialog, const std::string& text)> onMessage;
  // Answers to the yes/no questions, in turn; none left: no. Every question asked, in order.
  std::deque<bool> answers;
  std::vector<std::string> questions;
  // Answers to the pass phrase dialog, in turn; none left: cancelled.
  std::deque<std::optional<std::string>> passwords;
  int passwordPrompts = 0;
  // The language dialog's answer, and the preselections it was shown with.
  int languageAnswer = 0;
  std::vector<int> languagePrompts;
  int renders = 0;
};

}  // namespace korvel
