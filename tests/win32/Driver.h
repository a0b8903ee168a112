// Drives a program's Win32 windows from another process, as an operator's hands would: finds
// windows by class and control ID, reads their texts, clicks, checks, chooses and types by
// posted messages, and waits for what the program shows. Every wait polls; none sleeps a
// fixed time and calls that done.
#pragma once

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
// An old winbase.h macro, which would rename the core's StationPresenter::Yield().
#undef Yield

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace korvel::e2e {

constexpr int kPollMs = 50;

// Polls `done` every kPollMs until it is true or `timeoutMs` have passed.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& text);
// A path as Windows programs take it: a Unix path (as CMake passes under Wine) goes to Z:.
std::wstring WindowsPath(const std::string& path);

// A command line that gives the program exactly these arguments (the C runtime's parsing).
std::wstring CommandLine(const std::wstring& exe, const std::vector<std::wstring>& args);

// One program, started in a folder of our choosing, ended when this goes if still running.
class Program {
 public:
  Program() = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program();

  bool Start(const std::wstring& exe, const std::wstring& folder,
             const std::vector<std::wstring>& args, std::string& error);
  DWORD Id() const { return info_.dwProcessId; }
  bool Running() const;
  // True when it ended within the time; its exit code then.
  bool WaitForExit(int timeoutMs, DWORD& exitCode);
  void Terminate();

 private:
  PROCESS_INFORMATION info_{};
};

// A fresh, empty folder under the user's temporary folder, removed with everything in it.
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& Path() const { return path_; }
  bool Has(const std::wstring& name) const;
  // Names of the files in it (no folders), for messages.
  std::vector<std::string> Files() const;

 private:
  std::wstring path_;
};

// Top-level windows of a class in a process (every process when pid is 0).
std::vector<HWND> TopWindows(DWORD pid, const wchar_t* windowClass, bool visibleOnly = true);
HWND TopWindow(DWORD pid, const wchar_t* windowClass, bool visibleOnly = true);
// A descendant of `root` by control ID; null when there is none.
HWND Control(HWND root, int id);

// Reading; a window busy longer than a second reads as `busy` (an empty optional's stand-in).
std::string Text(HWND window, bool* busy = nullptr);
std::string ClassOf(HWND window);
bool Checked(HWND box);
int ComboCount(HWND combo);

// Acting, all by posted messages: the program may open a modal dialog in answer, and a sent
// message would wait for that dialog to close.
void PostCommand(HWND notify, int id, int code, HWND control);
void PostCheck(HWND notify, HWND box, bool on);
void PostChoose(HWND notify, HWND combo, int index);
void PostType(HWND notify, HWND edit, const std::string& text);

// Keys as the keyboard gives them, to the foreground window: needed where the program reads
// the state of Ctrl and Shift, which a posted message cannot carry. False when the window
// cannot be brought to the front or the input is refused.
bool PressChord(HWND window, const std::vector<WORD>& modifiers, WORD key);

// What the screen shows of a window, as a 24-bit .bmp file.
bool SaveWindowBitmap(HWND window, const std::wstring& path);

// A dialog of the program (class KorvelRfDialog): its name, caption and text.
struct DialogSeen {
  HWND window = nullptr;
  std::string name;
  std::string title;
  std::string text;
};
std::vector<DialogSeen> Dialogs(DWORD pid);
// Every dialog open now, one line each, for a failure's message.
std::string DescribeDialogs(DWORD pid);

// A window as a loader would have it: class TApplication and a title the program changes to
// report its result. Its own thread answers the program's messages.
class LoaderWindow {
 public:
  explicit LoaderWindow(const std::wstring& title);
  ~LoaderWindow();
  LoaderWindow(const LoaderWindow&) = delete;
  LoaderWindow& operator=(const LoaderWindow&) = delete;
  bool Created() const { return window_ != nullptr; }
  std::string Title() const;

 private:
  void Run(std::wstring title);
  std::thread thread_;
  std::atomic<HWND> window_{nullptr};
  std::atomic<DWORD> threadId_{0};
};

// True when running under Wine (its ntdll says which version it is).
bool UnderWine();
// Under Wine, links the UI fonts to the CJK font so Chinese captions show (Windows links its
// own); Wine resets Tahoma's link whenever a program runs in another code page. Does nothing
// on Windows. False when the registry refused.
bool LinkCjkFontUnderWine();

// HKCU values, for the program's saved language.
bool DeleteUserValue(const std::wstring& key, const std::wstring& name);
bool SetUserString(const std::wstring& key, const std::wstring& name, const std::wstring& value);
std::string UserString(const std::wstring& key, const std::wstring& name);

}  // namespace korvel::e2e
