// How the Win32 window names its parts to the system: each control of the layout table has the
// control ID of its row, and the windows and dialogs have classes of their own. A program that
// drives the window from outside (the end-to-end test, an automation script on a line PC) finds
// a control by walking the form's children for this ID.
#pragma once

#include <string>

#include "ui/WindowLayout.h"

namespace korvel::win32 {

inline constexpr int kFirstControlId = 1000;

// The control ID of a row of MainWindowLayout() (row 0 is the form itself); 0 for a name the
// table does not have.
inline int ControlId(const std::string& name) {
  static const std::vector<ControlLayout> rows = MainWindowLayout();
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].name == name) return kFirstControlId + int(i);
  return 0;
}

inline constexpr const wchar_t* kFormClass = L"KorvelRfForm1";
// The engineering page: a window of its own, owned by the form, holding the tab control.
inline constexpr const wchar_t* kPageClass = L"KorvelRfPage";
// Group boxes and tab pages: containers that pass their children's notifications on.
inline constexpr const wchar_t* kGroupClass = L"KorvelRfGroup";
// Every dialog of the window (messages, questions, the pass phrase, the language).
inline constexpr const wchar_t* kDialogClass = L"KorvelRfDialog";

// A dialog's parts. Its name ("dlgBind", "dlgError", "dlgBat", "dlgPass", "dlgQuestion",
// "Form2", or empty for a plain message) is the text of a hidden static, for a driver to read.
inline constexpr int kDialogNameId = 99;
inline constexpr int kDialogTextId = 100;      // the message or the prompt
inline constexpr int kDialogEditId = 101;      // the pass phrase
inline constexpr int kDialogLanguageId = 102;  // the language list
// Buttons: IDOK, IDCANCEL, IDYES, IDNO.

}  // namespace korvel::win32
