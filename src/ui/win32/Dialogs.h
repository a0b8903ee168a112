// The window's dialogs, built in code in the window's own font and the operator's language:
// a message, a yes/no question, the pass phrase and the language at a first start. Each runs
// its own modal loop; the core's timers go on meanwhile, as under any modal dialog.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "platform/Host.h"

namespace korvel::win32 {

struct DialogLook {
  HWND owner = nullptr;  // disabled while the dialog is up; centred on it
  HFONT font = nullptr;
  int dpi = 96;
};

// name: "dlgBind" (information), "dlgError", "dlgBat" (warnings), "" (no icon).
void MessageDialog(const DialogLook& look, const std::string& name, const std::wstring& caption,
                   const std::wstring& text, const std::wstring& ok);
bool QuestionDialog(const DialogLook& look, const std::wstring& caption, const std::wstring& text,
                    const std::wstring& yes, const std::wstring& no);
// dlgPass: nothing when cancelled. The phrase shows one star a character.
std::optional<std::wstring> PasswordDialog(const DialogLook& look);
// Form2: the chosen language index (0..2), centred on the screen.
int LanguageDialog(const DialogLook& look, const std::wstring& caption, int preselected);

}  // namespace korvel::win32
