#include "device/UdevRule.h"

#include <filesystem>

// The build says where: cmake/Packaging.cmake.
#ifndef KORVEL_UDEV_RULES_DIR
#error "KORVEL_UDEV_RULES_DIR comes from the build"
#endif

namespace korvel {

namespace {
constexpr const char* kRuleName = "70-korvel-rf.rules";
}  // namespace

std::string UdevRuleLine() {
  return R"(SUBSYSTEM=="hidraw", ATTRS{idVendor}=="1bcf", TAG+="uaccess", MODE="0660", GROUP="plugdev")";
}

std::string InstalledUdevRulePath() {
  return std::string(KORVEL_UDEV_RULES_DIR) + "/" + kRuleName;
}

std::string LocalUdevRulePath() {
  return std::string("/etc/udev/rules.d/") + kRuleName;
}

std::string FindInstalledUdevRule() {
  for (const std::string& path : {InstalledUdevRulePath(), LocalUdevRulePath()}) {
    std::error_code ignored;
    if (std::filesystem::is_regular_file(path, ignored)) return path;
  }
  return {};
}

std::string UdevRuleInstallCommand() {
  // The rule has no single quote, so one pair of them keeps it whole for the shell.
  return "echo '" + UdevRuleLine() + "' | sudo tee " + LocalUdevRulePath() +
         " >/dev/null && sudo udevadm control --reload-rules && sudo udevadm trigger "
         "--subsystem-match=hidraw";
}

}  // namespace korvel
