#include "presenter/SettingsView.h"

#include <cstdio>

#include "config/SettingsBinding.h"

namespace korvel {

namespace {
void Radio(ViewState& v, const std::vector<const char*>& group, size_t checked) {
  for (size_t i = 0; i < group.size(); ++i) v[group[i]].checked = i == checked;
}

// Like the toolkit's float-to-text: shortest form, no trailing zeros.
std::string Milliseconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", ms);
  return std::string(text) + "ms";
}
}  // namespace

void ShowSettings(const Settings& settings, ViewState& view) {
  Settings s = settings;  // the table reaches fields through a mutable object
  for (const SettingBinding& b : SettingBindings()) {
    const std::vector<const char*>& c = b.controls;
    switch (b.kind) {
      case SettingKind::Index:
      case SettingKind::Battery:
        view[c[0]].itemIndex = s.*std::get<int Settings::*>(b.field);
        break;
      case SettingKind::Flag:
        view[c[0]].checked = s.*std::get<bool Settings::*>(b.field);
        break;
      case SettingKind::Pair:
        Radio(view, c, s.*std::get<bool Settings::*>(b.field) ? 0 : 1);
        break;
      case SettingKind::Choice:
        Radio(view, c, size_t(s.*std::get<int Settings::*>(b.field)));
        break;
      case SettingKind::Number:
        view[c[0]].value = s.*std::get<int Settings::*>(b.field);
        break;
      case SettingKind::Text:
      case SettingKind::HexId:
        view[c[0]].text = s.*std::get<std::string Settings::*>(b.field);
        break;
      case SettingKind::Memory:
        break;  // in the file only
    }
  }
  ShowSpinLabels(view);
  ShowEraseEnables(view);
  view["cbKeyboardbind"].visible = !s.MouseOnly;
}

bool TakeSetting(Settings& s, const std::string& control, const ControlState& state,
                 ViewState& view) {
  for (const SettingBinding& b : SettingBindings()) {
    const std::vector<const char*>& c = b.controls;
    size_t at = c.size();
    for (size_t i = 0; i < c.size(); ++i)
      if (control == c[i]) at = i;
    if (at == c.size()) continue;
    switch (b.kind) {
      case SettingKind::Index:
      case SettingKind::Battery:
        s.*std::get<int Settings::*>(b.field) = state.itemIndex;
        break;
      case SettingKind::Flag:
        s.*std::get<bool Settings::*>(b.field) = state.checked;
        break;
      case SettingKind::Pair:
      case SettingKind::Choice:
        // The other buttons of the group report their unchecking too: only a check counts.
        if (!state.checked) return true;
        Radio(view, c, at);
        if (b.kind == SettingKind::Pair)
          s.*std::get<bool Settings::*>(b.field) = at == 0;
        else
          s.*std::get<int Settings::*>(b.field) = int(at);
        break;
      case SettingKind::Number:
        s.*std::get<int Settings::*>(b.field) = state.value;
        break;
      case SettingKind::Text:
      case SettingKind::HexId:
        s.*std::get<std::string Settings::*>(b.field) = state.text;
        break;
      case SettingKind::Memory:
        return false;
    }
    return true;
  }
  return false;
}

void ShowSpinLabels(ViewState& view) {
  view["Label3"].text = Milliseconds((256 - view["suiSpinEdit1"].value) * 9.1418);
  view["Label4"].text = Milliseconds((view["suiSpinEdit2"].value + 1) * 400 / 1000.0);
}

void ShowEraseEnables(ViewState& view) {
  view["btnEraseTX"].enabled = view["TX_Erased"].checked;
  view["btnEraseRX"].enabled = view["RX_Erased"].checked;
}

}  // namespace korvel
