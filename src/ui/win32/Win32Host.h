// Host for the Win32 window: the real clock, the core's timers on SetTimer, tasks posted from
// any thread, and the message pump the core turns during its long operations.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>

#include "platform/SystemHost.h"

namespace korvel::win32 {

class Win32Timer;

class Win32Host final : public Host {
 public:
  Win32Host();
  ~Win32Host() override;
  Win32Host(const Win32Host&) = delete;
  Win32Host& operator=(const Win32Host&) = delete;

  uint64_t TickCount() override { return clock_.TickCount(); }
  // Blocks like the system's Sleep: nothing repaints meanwhile.
  void Sleep(uint32_t ms) override { clock_.Sleep(ms); }
  void ProcessMessages() override;
  std::unique_ptr<HostTimer> CreateTimer() override;
  bool Post(std::function<void()> task) override;

  // What the window takes before a control sees it (PageDown, its shortcut, Tab between
  // controls); true when taken. Set by the window, used by every loop of this host.
  std::function<bool(MSG&)> PreTranslate;

  // The program's loop: until WM_QUIT, whose code it returns.
  int Run();
  // One message through the window's hooks to its control.
  void Dispatch(MSG& msg);

 private:
  friend class Win32Timer;
  static LRESULT CALLBACK SinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  SystemHost clock_;  // the steady clock, and the 1 ms timer resolution
  HWND sink_ = nullptr;
  PostedTasks posted_;
  std::map<UINT_PTR, Win32Timer*> timers_;
  UINT_PTR nextTimer_ = 1;
};

}  // namespace korvel::win32
