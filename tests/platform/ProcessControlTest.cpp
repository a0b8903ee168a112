#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "TempDir.h"
#include "platform/FileLock.h"
#include "platform/ProcessControl.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
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

// A restarted tool ends the copy still running, then locks TX.ini: the copy takes a moment to
// close (its record, its window) before its lock is free, and the new copy must not find the
// file "in use" then.
TEST(ProcessControl, ACopyEndedAtStartHasLetGoOfItsLockWhenTheCallReturns) {
  test::TempDir dir;
  const std::string name = "Korvel-Holder-" + std::to_string(getpid());
  const auto exe = dir.path / name;
  std::filesystem::copy_file("/bin/sh", exe);
  const auto lock = dir.path / "TX.ini.lock";
  const auto ready = dir.path / "ready";
  const pid_t holder = fork();
  if (holder == 0) {
    const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0 || dup2(fd, 9) < 0 || flock(9, LOCK_EX) != 0) _exit(126);
    // Told to end, it needs 300 ms to close; its sleeps do not keep the lock. It says when
    // its trap is set: a TERM before that would end it at once.
    const std::string script = "trap 'sleep 0.3 9>&-; exit 0' TERM; : >'" + ready.string() +
                               "'; while :; do sleep 0.05 9>&-; done";
    execl(exe.c_str(), name.c_str(), "-c", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(holder, 0);
  FileLock probe;
  bool held = false;
  for (int i = 0; i < 300 && !held; ++i) {
    held = std::filesystem::exists(ready) && !probe.Acquire(lock, "probe") && probe.HeldElsewhere();
    if (!held) probe.Release();
    usleep(10000);
  }
  ASSERT_TRUE(held) << "the holder never took the lock";
  EXPECT_EQ(KillProcessesNamed(name), 1);
  FileLock station;
  const Status claimed = station.Acquire(lock, "korvel-rf-tool, pid 2");
  EXPECT_TRUE(claimed) << claimed.failure;
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  EXPECT_TRUE(WIFEXITED(status)) << "it ended by itself within the grace time";
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
