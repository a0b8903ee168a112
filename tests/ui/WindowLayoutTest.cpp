// The window's layout table holds together: every window built from it gets each control once,
// inside its parent, and every control the core paints.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "presenter/StationPresenter.h"
#include "ui/WindowLayout.h"

namespace korvel {
namespace {

const ControlLayout* Find(const std::vector<ControlLayout>& table, const std::string& name) {
  for (const ControlLayout& c : table)
    if (c.name == name) return &c;
  return nullptr;
}

TEST(WindowLayoutTest, TheFormComesFirstAndIsTheOnlyRoot) {
  const std::vector<ControlLayout> table = MainWindowLayout();
  ASSERT_FALSE(table.empty());
  EXPECT_EQ(table.front().kind, ControlKind::Form);
  EXPECT_TRUE(table.front().parent.empty());
  for (size_t i = 1; i < table.size(); ++i) {
    EXPECT_NE(table[i].kind, ControlKind::Form) << table[i].name;
    EXPECT_FALSE(table[i].parent.empty()) << table[i].name;
  }
}

TEST(WindowLayoutTest, NamesAreUnique) {
  std::set<std::string> seen;
  for (const ControlLayout& c : MainWindowLayout())
    EXPECT_TRUE(seen.insert(c.name).second) << c.name << " twice";
}

TEST(WindowLayoutTest, EveryParentIsNamedEarlier) {
  std::set<std::string> earlier;
  for (const ControlLayout& c : MainWindowLayout()) {
    if (!c.parent.empty()) {
      EXPECT_TRUE(earlier.count(c.parent)) << c.name << " in " << c.parent;
    }
    earlier.insert(c.name);
  }
}

TEST(WindowLayoutTest, EveryChildLiesInsideItsParent) {
  // The unit labels of the suspend group reach 10 pixels past its edge; their texts ("6.4ms")
  // end long before it.
  const std::set<std::string> overhanging = {"Label3", "Label4"};
  const std::vector<ControlLayout> table = MainWindowLayout();
  for (const ControlLayout& c : table) {
    if (c.parent.empty()) continue;
    const ControlLayout* p = Find(table, c.parent);
    ASSERT_NE(p, nullptr) << c.name;
    EXPECT_GT(c.width, 0) << c.name;
    EXPECT_GT(c.height, 0) << c.name;
    const bool inside =
        c.x >= 0 && c.y >= 0 && c.x + c.width <= p->width && c.y + c.height <= p->height;
    // Either way round is a fault: a new overhang, or an exception that no longer is one.
    EXPECT_EQ(inside, !overhanging.count(c.name))
        << c.name << " (" << c.x << "," << c.y << " " << c.width << "x" << c.height << ") in "
        << p->name << " (" << p->width << "x" << p->height << ")";
  }
}

TEST(WindowLayoutTest, EveryControlOfTheViewStateHasARow) {
  const std::vector<ControlLayout> table = MainWindowLayout();
  for (const auto& [name, state] : InitialViewState().controls)
    EXPECT_NE(Find(table, name), nullptr) << name << " has no place in the window";
}

TEST(WindowLayoutTest, KindSpecificFactsSitOnTheirKinds) {
  const std::vector<ControlLayout> table = MainWindowLayout();
  std::map<std::string, std::string> groupParent;
  for (const ControlLayout& c : table) {
    if (c.kind == ControlKind::TabPage) {
      EXPECT_EQ(Find(table, c.parent)->kind, ControlKind::TabControl) << c.name;
    }
    if (c.maxLength > 0) {
      EXPECT_TRUE(c.kind == ControlKind::Edit || c.kind == ControlKind::HexEdit) << c.name;
    }
    if (!c.filterHex) {
      EXPECT_EQ(c.kind, ControlKind::HexEdit) << c.name;
    }
    if (c.wordWrap || c.elide) {
      EXPECT_EQ(c.kind, ControlKind::Label) << c.name;
    }
    if (c.radioGroup.empty()) continue;
    EXPECT_EQ(c.kind, ControlKind::RadioButton) << c.name;
    // Buttons that exclude each other share a parent.
    const auto [it, first] = groupParent.emplace(c.radioGroup, c.parent);
    if (!first) {
      EXPECT_EQ(it->second, c.parent) << c.name;
    }
  }
}

TEST(WindowLayoutTest, OnlyTheFieldsThatShowWhatTheCoreComputedAreReadOnly) {
  std::vector<std::string> readOnly;
  for (const ControlLayout& c : MainWindowLayout()) {
    if (!c.readOnly) continue;
    EXPECT_TRUE(c.kind == ControlKind::Edit || c.kind == ControlKind::HexEdit) << c.name;
    readOnly.push_back(c.name);
  }
  const std::vector<std::string> expected = {"edtVID",
                                             "edtPID",
                                             "edtRX_IncCurrentRFID",
                                             "edtRX_IncNextRFID",
                                             "edtTX_IncCurrentRFID",
                                             "edtTX_IncNextRFID",
                                             "edtRX_IncCurrentSN",
                                             "edtRX_IncNextSN",
                                             "edtTX_IncCurrentSN",
                                             "edtTX_IncNextSN",
                                             "edtRX",
                                             "edtTX",
                                             "edtCaliTime",
                                             "edtMseDongleAddr",
                                             "edtRX_SN",
                                             "edtTX_SN"};
  EXPECT_EQ(readOnly, expected);
}

TEST(PlaceBeside, OpensBesideTheMainWindowAndAlwaysWhollyOnItsScreen) {
  const int w = 760, h = 560;
  const ScreenBox fullHd{0, 0, 1920, 1040}, wide{0, 0, 1600, 860};
  // Room on the right: there, top edges level.
  EXPECT_EQ(PlaceBeside({20, 30, 900, 600}, w, h, fullHd), (ScreenPoint{928, 30}));
  // None on the right: on the left.
  EXPECT_EQ(PlaceBeside({900, 30, 900, 600}, w, h, fullHd), (ScreenPoint{132, 30}));
  // None on either side: over the main window, against the screen's right edge, raised so
  // its foot is on the screen.
  EXPECT_EQ(PlaceBeside({350, 400, 900, 600}, w, h, wide), (ScreenPoint{840, 300}));
  // On a second screen to the right of the first, it stays on that screen.
  const ScreenBox second{1920, 0, 1600, 860};
  const ScreenPoint at = PlaceBeside({2000, 50, 900, 600}, w, h, second);
  EXPECT_GE(at.x, second.left);
  EXPECT_LE(at.x + w, second.left + second.width);
  EXPECT_GE(at.y, second.top);
  EXPECT_LE(at.y + h, second.top + second.height);
}

TEST(WindowLayoutTest, TheSpecialCommandColumnsStartWhereTheDesignSays) {
  const std::vector<ControlLayout> table = MainWindowLayout();
  for (int i = 0; i < kSpecialColumns; ++i) {
    for (const std::string& name :
         {"lbledtSC01_0" + std::to_string(i), "edtSC01_0" + std::to_string(i),
          "edtSC04_0" + std::to_string(i)}) {
      const ControlLayout* c = Find(table, name);
      ASSERT_NE(c, nullptr) << name;
      EXPECT_EQ(c->x, kSpecialColumnsLeft + kSpecialColumnWidth * i) << name;
      EXPECT_EQ(c->parent, "gbSpecialCmd") << name;
    }
  }
}

}  // namespace
}  // namespace korvel
