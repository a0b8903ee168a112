// What the operator sees, kept by the core and drawn by the window: one entry per control,
// found by the control's name. The names are those the layout adds; any other name is a
// programming error, caught where it is used rather than silently made into a new control.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

struct ControlState {
  std::string text;  // caption or edit text
  bool enabled = true;
  bool visible = true;
  bool checked = false;  // check boxes, radio buttons, LED value
  int itemIndex = -1;    // lists
  int value = 0;         // spin edits, progress
  int minimum = 0;
  int maximum = 0;
  int top = 0;
  int height = 0;
  std::vector<std::string> items;
  std::string color;  // text colour by name ("blue", "red", "green"); empty: the skin's
};

// Called with a name the layout never added. The default ends the program in debug builds
// (so every test catches a misspelt name) and reports it on stderr in release builds.
using UnknownControlHandler = void (*)(const std::string& name);
void SetUnknownControlHandler(UnknownControlHandler handler);

struct ViewState {
  std::string caption;
  int width = 900;
  int height = 740;
  int left = 0;
  int top = 0;
  std::map<std::string, ControlState> controls;

  // The layout's own way in: adds the control (or gives the one already there).
  ControlState& Add(const std::string& name) { return controls[name]; }
  // A control the layout added.
  ControlState& operator[](const std::string& name);
  const ControlState& operator[](const std::string& name) const;
  bool Has(const std::string& name) const { return controls.count(name) != 0; }
  const ControlState* Find(const std::string& name) const {
    const auto it = controls.find(name);
    return it == controls.end() ? nullptr : &it->second;
  }

 private:
  ControlState& Unknown(const std::string& name) const;
  mutable ControlState scratch_;  // what an unknown name gets in a release build
};

// Implemented by the window, and by a recording fake in tests. The core calls it; it never
// reaches into the core.
class StationView {
 public:
  virtual ~StationView() = default;
  // Repaint from the state.
  virtual void Render(const ViewState& state) = 0;
  // A message box: dialog name ("dlgBind", "dlgError", "dlgBat", or "" for a plain one).
  virtual void ShowMessage(const std::string& dialog, const std::string& caption,
                           const std::string& text) = 0;
  // A yes/no question; true for yes. An empty caption: the window's own.
  virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
  // dlgPass; nothing when cancelled.
  virtual std::optional<std::string> AskPassword() = 0;
  // TForm2: the chosen language index, given the preselected one.
  virtual int AskLanguage(int preselected) = 0;
  virtual int ScreenWidth() = 0;
  virtual int ScreenHeight() = 0;
};

}  // namespace korvel
