#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "TempDir.h"
#include "platform/ProcessControl.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace korvel {
namespace {

TEST(ProcessControl, KnowsItsOwnName) {
  const std::string name = OwnExecutableName();
  EXPECT_NE(name.find("korvel_tests"), std::string::npos) << name;
  EXPECT_EQ(name.find('/'), std::string::npos);
}

TEST(ProcessControl, NobodyByThatNameMeansNothingEnded) {
  EXPECT_EQ(KillProcessesNamed("korvel-no-such-program-3b9f.exe"), 0);
  EXPECT_EQ(KillProcessesNamed(""), 0);
}

#ifndef _WIN32
TEST(ProcessControl, EndsEveryProcessOfThatNameWithoutRegardToCase) {
  test::TempDir dir;
  const std::string name = "Korvel-Probe-" + std::to_string(getpid());
  const auto exe = dir.path / name;
  std::filesystem::copy_file("/bin/sleep", exe);
  pid_t children[2];
  for (pid_t& child : children) {
    child = fork();
    if (child == 0) {
      execl(exe.c_str(), name.c_str(), "30", static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(child, 0);
  }
  // Wait until both have become the probe (exec done).
  for (int i = 0; i < 200; ++i) {
    int ready = 0;
    for (pid_t child : children) {
      char buf[4096];
      const ssize_t n =
          readlink(("/proc/" + std::to_string(child) + "/exe").c_str(), buf, sizeof buf);
      ready += n > 0 && std::string(buf, size_t(n)).find(name) != std::string::npos;
    }
    if (ready == 2) break;
    usleep(10000);
  }
  std::string lower = name;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(KillProcessesNamed(lower), 2);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
  }
}
#endif

}  // namespace
}  // namespace korvel

namespace korvel {
namespace {

TEST(ProcessControl, StartingAProgramThatIsNotThereFails) {
  EXPECT_FALSE(
      StartDetached((std::filesystem::temp_directory_path() / "korvel-no-such-tool.exe").string()));
}

#ifndef _WIN32
TEST(ProcessControl, StartsAProgramWithoutWaitingForIt) {
  test::TempDir dir;
  const auto marker = dir.path / "started";
  const auto script = dir.path / "tool.sh";
  std::ofstream(script) << "#!/bin/sh\ntouch '" << marker.string() << "'\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  ASSERT_TRUE(StartDetached(script.string()));
  for (int i = 0; i < 200 && !std::filesystem::exists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(std::filesystem::exists(marker));
}
#endif

TEST(ProcessControl, NoLoaderWindowMeansNothingToRetitle) {
  EXPECT_FALSE(RetitleWindow("TApplication", "KRVRF MFP Loader (not running)", "PASS"));
}

}  // namespace
}  // namespace korvel
