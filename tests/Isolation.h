// Runs a part of a test in a child process where the file system says no for real: a small
// disk of its own (tmpfs in a private mount namespace), or another user's rights. The child's
// failures are printed as usual; the parent checks its exit status.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace korvel::test {

// The child's verdict: 0 passed, 1 failed, 2 the isolation itself was not possible here.
inline int InChild(const std::function<bool()>& setUp, const std::function<void()>& body) {
  std::cout.flush();
  const pid_t pid = ::fork();
  if (pid < 0) return 2;
  if (pid == 0) {
    if (!setUp()) ::_exit(2);
    body();
    std::cout.flush();
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// `folder` becomes a disk of `bytes` for the child alone.
inline int OnSmallDisk(const std::filesystem::path& folder, size_t bytes,
                       const std::function<void()>& body) {
  return InChild(
      [&] {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWNS) != 0) {
          // Without privileges: a user namespace of our own may mount.
          if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
          std::ofstream("/proc/self/setgroups") << "deny";
          std::ofstream("/proc/self/uid_map") << uid << " " << uid << " 1";
          std::ofstream("/proc/self/gid_map") << gid << " " << gid << " 1";
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
        const std::string options = "size=" + std::to_string(bytes);
        return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
      },
      body);
}

// The child runs as user and group `nobody` (when this test runs as root; otherwise as the
// user it is). Files the child must reach need their rights opened first.
inline int AsNobody(const std::function<void()>& body) {
  return InChild([] { return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0); },
                 body);
}

// Fills the disk holding `folder` up to `leave` bytes free; the file it used.
inline std::filesystem::path FillDisk(const std::filesystem::path& folder, size_t leave) {
  const std::filesystem::path filler = folder / "filler";
  const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  static const std::string block(4096, 'x');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  ::fsync(fd);
  const off_t full = ::lseek(fd, 0, SEEK_END);
  ::ftruncate(fd, full > off_t(leave) ? full - off_t(leave) : 0);
  ::close(fd);
  return filler;
}

}  // namespace korvel::test

// A child's verdict as a test result.
#define KORVEL_EXPECT_CHILD(call)                                                 \
  do {                                                                            \
    const int korvelChild = (call);                                               \
    if (korvelChild == 2) GTEST_SKIP() << "cannot isolate a file system here";    \
    EXPECT_EQ(korvelChild, 0) << "the child process's checks failed (see above)"; \
  } while (0)
#endif
