// A folder of its own for a test, removed afterwards.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace korvel::test {

struct TempDir {
  TempDir() {
    static std::atomic<int> counter{0};
#ifdef _WIN32
    const long pid = _getpid();
#else
    const long pid = long(getpid());
#endif
    path = std::filesystem::temp_directory_path() /
           ("korvel-test-" + std::to_string(pid) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::filesystem::path path;
};

}  // namespace korvel::test
