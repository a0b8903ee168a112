// The permission hint names a rule that is really there, and a command that needs only itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "device/UdevRule.h"
#include "device/VidPidTable.h"
#include "localization/Lang.h"
#include "presenter/StationPresenter.h"

namespace korvel {
namespace {

// The rule line of the file the package installs.
std::string PackagedRuleLine() {
  std::ifstream in(std::filesystem::path(KORVEL_SOURCE_DIR) / "packaging/linux/70-korvel-rf.rules");
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') return line;
  return {};
}

TEST(UdevRuleTest, CommandWritesThePackagedRuleAndAppliesIt) {
  const std::string line = PackagedRuleLine();
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(UdevRuleLine(), line);
  // It opens the vendor the tool searches for.
  char vendor[32];
  std::snprintf(vendor, sizeof vendor, "ATTRS{idVendor}==\"%04x\"",
                static_cast<unsigned>(kFixedVidPids[0].vid));
  EXPECT_NE(line.find(vendor), std::string::npos) << vendor;

  // The line between single quotes (which the rule has none of), then into /etc, reloaded and
  // applied to the dongles plugged in now.
  EXPECT_EQ(line.find('\''), std::string::npos);
  EXPECT_EQ(UdevRuleInstallCommand(),
            "echo '" + line + "' | sudo tee /etc/udev/rules.d/70-korvel-rf.rules >/dev/null && " +
                "sudo udevadm control --reload-rules && sudo udevadm trigger " +
                "--subsystem-match=hidraw");
}

TEST(UdevRuleTest, PackageInstallsTheSameFileIntoUdevsOwnFolder) {
  const std::filesystem::path installed = InstalledUdevRulePath();
  EXPECT_EQ(installed.filename().string(), "70-korvel-rf.rules");
  EXPECT_TRUE(installed.is_absolute()) << installed.string();
  EXPECT_EQ(installed.parent_path().filename().string(), "rules.d");
  // /etc/udev/rules.d is the administrator's: a package never writes there.
  EXPECT_NE(installed.string().rfind("/etc/", 0), 0u) << installed.string();
  EXPECT_EQ(LocalUdevRulePath(), "/etc/udev/rules.d/70-korvel-rf.rules");
}

TEST(UdevRuleTest, TheHintSaysWhatTheRulesPresenceCallsFor) {
  const std::string without = PermissionHint({0x1BCF, 0x053A}, "").English();
  EXPECT_NE(without.find("1BCF:053A"), std::string::npos) << without;
  EXPECT_NE(without.find("The udev rule " + InstalledUdevRulePath() + " "), std::string::npos)
      << without;
  EXPECT_NE(without.find(UdevRuleInstallCommand()), std::string::npos) << without;
  // Nothing of this build's source tree: the station PC does not have it.
  EXPECT_EQ(without.find(KORVEL_SOURCE_DIR), std::string::npos) << without;

  const std::string with = PermissionHint({0x1BCF, 0x053A}, LocalUdevRulePath()).English();
  EXPECT_NE(with.find("The udev rule " + LocalUdevRulePath() + " is installed"), std::string::npos)
      << with;
  EXPECT_EQ(with.find("sudo"), std::string::npos) << with;
  EXPECT_NE(with.find("plugdev"), std::string::npos) << with;
  // The command stays whole in every language.
  EXPECT_NE(Words(PermissionHint({0x1BCF, 0x053A}, ""), lkChs).find(UdevRuleInstallCommand()),
            std::string::npos);
}

}  // namespace
}  // namespace korvel
