// The permission hint names a rule that is really there, and the file the package installs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "device/UdevRule.h"
#include "device/VidPidTable.h"

namespace korvel {
namespace {

const std::string kInstall = "sudo install -m 0644 ";
const std::string kInto = " /etc/udev/rules.d/ && ";

// The rule file the command copies, as the shell would see the word.
std::string RuleSource(const std::string& command) {
  if (command.rfind(kInstall, 0) != 0) return {};
  const auto end = command.find(kInto, kInstall.size());
  if (end == std::string::npos) return {};
  std::string word = command.substr(kInstall.size(), end - kInstall.size());
  if (word.size() >= 2 && word.front() == '\'' && word.back() == '\'')
    word = word.substr(1, word.size() - 2);
  return word;
}

TEST(UdevRuleTest, CommandInstallsTheRuleOfThisSourceTreeAndReloadsUdev) {
  const std::string command = UdevRuleInstallCommand();
  const std::filesystem::path rule = RuleSource(command);
  ASSERT_TRUE(std::filesystem::is_regular_file(rule)) << command;
  EXPECT_TRUE(rule.is_absolute()) << "pasted from any folder";
  EXPECT_NE(command.find("&& sudo udevadm control --reload-rules && sudo udevadm trigger"),
            std::string::npos)
      << command;

  // It opens the vendor the tool searches for.
  std::ifstream in(rule);
  std::stringstream text;
  text << in.rdbuf();
  char vendor[32];
  std::snprintf(vendor, sizeof vendor, "ATTRS{idVendor}==\"%04x\"",
                static_cast<unsigned>(kFixedVidPids[0].vid));
  EXPECT_NE(text.str().find(vendor), std::string::npos) << vendor;
}

TEST(UdevRuleTest, PackageInstallsTheSameFileIntoUdevsOwnFolder) {
  const std::filesystem::path installed = InstalledUdevRulePath();
  const std::filesystem::path rule = RuleSource(UdevRuleInstallCommand());
  EXPECT_EQ(installed.filename().string(), rule.filename().string());
  EXPECT_TRUE(installed.is_absolute()) << installed.string();
  EXPECT_EQ(installed.parent_path().filename().string(), "rules.d");
  // /etc/udev/rules.d is the administrator's: a package never writes there.
  EXPECT_NE(installed.string().rfind("/etc/", 0), 0u) << installed.string();
}

}  // namespace
}  // namespace korvel
