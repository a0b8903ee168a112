// A control name the layout never added is a programming error, not a new control.
#include <gtest/gtest.h>

#include "config/SettingsBinding.h"
#include "presenter/StationPresenter.h"
#include "ui/ViewState.h"

namespace korvel {
namespace {

std::vector<std::string> unknown;
void Record(const std::string& name) {
  unknown.push_back(name);
}

class ViewStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unknown.clear();
    SetUnknownControlHandler(Record);
  }
  void TearDown() override { SetUnknownControlHandler(nullptr); }
};

TEST_F(ViewStateTest, AMisspeltNameIsReportedAndCreatesNothing) {
  ViewState v = InitialViewState();
  const size_t controls = v.controls.size();
  v["btnGo"].enabled = true;
  EXPECT_TRUE(unknown.empty());
  v["btnG0"].enabled = true;  // a typo
  const ViewState& shown = v;
  EXPECT_EQ(shown["edtRx"].text, "");
  EXPECT_EQ(unknown, (std::vector<std::string>{"btnG0", "edtRx"}));
  EXPECT_EQ(v.controls.size(), controls);
  EXPECT_FALSE(v.Has("btnG0"));
}

TEST_F(ViewStateTest, EverySettingAndTextNamesAControlOfTheLayout) {
  const ViewState v = InitialViewState();
  for (const SettingBinding& b : SettingBindings())
    for (const char* control : b.controls) EXPECT_TRUE(v.Has(control)) << control;
  for (const auto& [name, key] : TextBindings()) EXPECT_TRUE(v.Has(name)) << name;
}

#if GTEST_HAS_DEATH_TEST && !defined(NDEBUG) && !defined(_WIN32)
TEST(ViewStateDeathTest, ByDefaultADebugBuildStopsAtTheMisspeltName) {
  EXPECT_DEATH(
      {
        ViewState v = InitialViewState();
        v["lblResutl"].text = "PASS";
      },
      "no control named 'lblResutl'");
}
#endif

}  // namespace
}  // namespace korvel
