#include "ui/ScriptedView.h"

namespace korvel {

void ScriptedView::ShowMessage(const std::string& dialog, const std::string&,
                               const std::string& text) {
  messages.push_back(dialog + ":" + text);
  if (onMessage) onMessage(dialog, text);
}

bool ScriptedView::AskYesNo(const std::string&, const std::string& text) {
  questions.push_back(text);
  if (answers.empty()) return false;
  const bool answer = answers.front();
  answers.pop_front();
  return answer;
}

std::optional<std::string> ScriptedView::AskPassword() {
  ++passwordPrompts;
  if (passwords.empty()) return std::nullopt;
  auto answer = passwords.front();
  passwords.pop_front();
  return answer;
}

int ScriptedView::AskLanguage(int preselected) {
  languagePrompts.push_back(preselected);
  return languageAnswer;
}

}  // namespace korvel
