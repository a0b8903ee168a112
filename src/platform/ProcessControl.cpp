#include "platform/ProcessControl.h"

#include "platform/Text.h"

#ifdef _WIN32
// windows.h first: the others need its types.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on
#else
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#endif

#include <vector>

namespace korvel {

namespace {
std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

#ifndef _WIN32
std::string ExeName(const std::string& procDir) {
  char buffer[4096];
  const ssize_t n = readlink((procDir + "/exe").c_str(), buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  std::string path(buffer, size_t(n));
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() &&
      path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
    path.resize(path.size() - deleted.size());
  return BaseName(path);
}

bool IsZombie(const std::string& procDir) {
  std::ifstream stat(procDir + "/stat");
  std::string text;
  std::getline(stat, text);
  const size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

// A pidfd pins the process: a reused PID cannot be hit by mistake, and it is readable once
// the process has ended.
struct Ending {
  pid_t pid = 0;
  int fd = -1;  // -1: no pidfd on this kernel
};

bool Signal(const Ending& e, int signal) {
#if defined(SYS_pidfd_send_signal)
  if (e.fd >= 0) return syscall(SYS_pidfd_send_signal, e.fd, signal, nullptr, 0) == 0;
#endif
  return kill(e.pid, signal) == 0;
}

bool Gone(const Ending& e) {
  if (e.fd >= 0) {
    pollfd p{e.fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
  }
  return kill(e.pid, 0) != 0 || IsZombie("/proc/" + std::to_string(e.pid));
}

// Waits until every one has ended, up to `ms`; those still there are left in the list.
void WaitForEnd(std::vector<Ending>& endings, int ms) {
  for (int waited = 0; waited <= ms; waited += 10) {
    std::erase_if(endings, [](const Ending& e) {
      if (!Gone(e)) return false;
      if (e.fd >= 0) close(e.fd);
      return true;
    });
    if (endings.empty()) return;
    usleep(10000);
  }
}
#endif
}  // namespace

std::string OwnExecutableName() {
#ifdef _WIN32
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return BaseName(path);
#else
  return ExeName("/proc/self");
#endif
}

int KillProcessesNamed(const std::string& exeName, int graceMs) {
  if (exeName.empty()) return 0;
  int ended = 0;
#ifdef _WIN32
  const DWORD self = GetCurrentProcessId();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  std::vector<HANDLE> ending;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == self || !EqualNoCase(BaseName(entry.szExeFile), exeName)) continue;
    // Processes that cannot be opened or ended are passed over.
    if (HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
      if (TerminateProcess(p, 0)) {
        ++ended;
        ending.push_back(p);
      } else {
        CloseHandle(p);
      }
    }
  }
  CloseHandle(snapshot);
  // Terminated is not yet gone: its handles (the settings file's lock) close as it ends.
  for (HANDLE p : ending) {
    WaitForSingleObject(p, DWORD(graceMs));
    CloseHandle(p);
  }
#else
  const pid_t self = getpid();
  const uid_t me = getuid();
  std::vector<Ending> endings;
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  while (const dirent* e = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == self) continue;
    const std::string dir = std::string("/proc/") + e->d_name;
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || st.st_uid != me) continue;  // other users' processes
    if (!EqualNoCase(ExeName(dir), exeName) || IsZombie(dir)) continue;
    Ending ending{pid_t(pid), -1};
#if defined(SYS_pidfd_open)
    ending.fd = int(syscall(SYS_pidfd_open, ending.pid, 0));
#endif
    if (Signal(ending, SIGTERM)) {
      ++ended;
      endings.push_back(ending);
    } else if (ending.fd >= 0) {
      close(ending.fd);
    }
  }
  closedir(proc);
  // Told is not yet gone: what it holds (the settings file's lock) is free only once it ends.
  WaitForEnd(endings, graceMs);
  for (const Ending& e : endings) Signal(e, SIGKILL);
  WaitForEnd(endings, 1000);
  for (const Ending& e : endings)
    if (e.fd >= 0) close(e.fd);
#endif
  return ended;
}

int KillOtherInstances() {
  return KillProcessesNamed(OwnExecutableName());
}

bool StartDetached(const std::string& path) {
#ifdef _WIN32
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  std::string commandLine = "\"" + path + "\"";
  if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
#else
  // Two forks so the program is nobody's child to wait for: no zombie is left behind. A
  // close-on-exec pipe tells whether the exec itself worked.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  const pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    close(report[0]);
    setsid();
    if (fork() == 0) {
      execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
      const int error = errno;
      (void)!write(report[1], &error, sizeof error);
      _exit(127);
    }
    _exit(0);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  while ((n = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  return n == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
}

bool RetitleWindow(const std::string& windowClass, const std::string& title,
                   const std::string& newTitle) {
#ifdef _WIN32
  // user32 is bound when needed, like the HID libraries.
  HMODULE user32 = LoadLibraryExA("user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!user32) return false;
  using FindFn = HWND(WINAPI*)(LPCSTR, LPCSTR);
  using SetTextFn = BOOL(WINAPI*)(HWND, LPCSTR);
  const auto find =
      reinterpret_cast<FindFn>(reinterpret_cast<void*>(GetProcAddress(user32, "FindWindowA")));
  const auto setText = reinterpret_cast<SetTextFn>(
      reinterpret_cast<void*>(GetProcAddress(user32, "SetWindowTextA")));
  bool done = false;
  if (find && setText) {
    if (HWND window = find(windowClass.c_str(), title.c_str()))
      done = setText(window, newTitle.c_str()) != FALSE;
  }
  FreeLibrary(user32);
  return done;
#else
  (void)windowClass, (void)title, (void)newTitle;
  return false;
#endif
}

}  // namespace korvel
