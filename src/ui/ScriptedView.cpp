#include "ui/ScriptedView.h"

namespace korvel {

void ScriptedView::ShowMessage(const std::string& dialog, const std::string&,
                               const std::string& text) {
  messages.push_back(dialog + ":" + text);
  if (onMessage) onMessage(dialog, text);
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
