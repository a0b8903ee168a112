// The settings model and the controls that edit it: they start alike, and every control's change
// reaches the model (so a run never needs to read a control's text).
#include <gtest/gtest.h>

#include "config/SettingsBinding.h"
#include "presenter/SettingsView.h"
#include "presenter/StationPresenter.h"

namespace korvel {
namespace {

TEST(SettingsView, TheModelStartsAsTheControlsAreDrawn) {
  const ViewState drawn = InitialViewState();
  ViewState shown = drawn;
  ShowSettings(Settings{}, shown);
  for (const SettingBinding& b : SettingBindings())
    for (const char* name : b.controls) {
      SCOPED_TRACE(name);
      EXPECT_EQ(shown[name].checked, drawn[name].checked);
      // Lists get their items (and the model their defaults) when the window is created.
      if (!drawn[name].items.empty()) {
        EXPECT_EQ(shown[name].itemIndex, drawn[name].itemIndex);
      }
      EXPECT_EQ(shown[name].value, drawn[name].value);
    }
}

// Each kind of control once: the change lands in its setting, and showing the model again
// gives the control back as the operator left it.
TEST(SettingsView, EveryKindOfControlEditsItsSetting) {
  struct Case {
    const char* control;
    ControlState state;
    std::function<bool(const Settings&)> took;
  };
  auto with = [](auto edit) {
    ControlState c;
    edit(c);
    return c;
  };
  const Case cases[] = {
      {"cbCustKey1", with([](ControlState& c) { c.itemIndex = 9; }),
       [](const Settings& s) { return s.CustKey1 == 9; }},
      {"rbKbdMse", with([](ControlState& c) { c.checked = true; }),
       [](const Settings& s) { return !s.MouseOnly; }},
      {"rbRF_DR_4F", with([](ControlState& c) { c.checked = true; }),
       [](const Settings& s) { return s.PowerSaving == 2; }},
      {"suiSpinEdit1", with([](ControlState& c) { c.value = 100; }),
       [](const Settings& s) { return s.Sleep == 100; }},
      {"edtEEPROM_20", with([](ControlState& c) { c.text = "Line 3 mouse"; }),
       [](const Settings& s) { return s.PName == "Line 3 mouse"; }},
      {"edtVID_SET", with([](ControlState& c) { c.text = "1BCF"; }),
       [](const Settings& s) { return s.VidSet == "1BCF"; }},
      {"cbResetRF", with([](ControlState& c) { c.checked = false; }),
       [](const Settings& s) { return !s.ResetRF; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    ViewState view = InitialViewState();
    Settings settings;
    ASSERT_TRUE(TakeSetting(settings, c.control, c.state, view));
    EXPECT_TRUE(c.took(settings));
    ViewState again = InitialViewState();
    ShowSettings(settings, again);
    const ControlState& back = again[c.control];
    EXPECT_EQ(back.text, c.state.text.empty() ? back.text : c.state.text);
    EXPECT_EQ(back.checked, c.state.checked);
    EXPECT_EQ(back.value, c.state.value ? c.state.value : back.value);
    EXPECT_EQ(back.itemIndex, c.state.itemIndex >= 0 ? c.state.itemIndex : back.itemIndex);
  }
  // A radio button that reports being unchecked changes nothing: its partner reports the choice.
  ViewState view = InitialViewState();
  Settings settings;
  ControlState off;
  off.checked = false;
  EXPECT_TRUE(TakeSetting(settings, "rbMouseOnly", off, view));
  EXPECT_TRUE(settings.MouseOnly);
  EXPECT_FALSE(TakeSetting(settings, "btnGo", off, view));
}

}  // namespace
}  // namespace korvel
