#include "Driver.h"

#include <filesystem>

#include "ui/win32/WindowIds.h"

namespace korvel::e2e {

namespace {
// Long enough for a program in the middle of a transfer to come back to its message loop.
constexpr UINT kReplyMs = 1000;

bool SendWithin(HWND window, UINT message, WPARAM w, LPARAM l, DWORD_PTR* result = nullptr) {
  DWORD_PTR answer = 0;
  const LRESULT ok =
      SendMessageTimeoutW(window, message, w, l, SMTO_ABORTIFHUNG | SMTO_BLOCK, kReplyMs, &answer);
  if (result) *result = answer;
  return ok != 0;
}

// Sets a control's state, retrying while the program is busy.
bool SendSoon(HWND window, UINT message, WPARAM w, LPARAM l) {
  return WaitUntil([&] { return SendWithin(window, message, w, l); }, 10000);
}

std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  return out + L"\"";
}
}  // namespace

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  const ULONGLONG end = GetTickCount64() + ULONGLONG(timeoutMs);
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(kPollMs);
  }
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
  return out;
}

std::wstring WindowsPath(const std::string& path) {
  std::wstring out = Wide(path);
  if (!out.empty() && out[0] == L'/') out = L"Z:" + out;
  for (wchar_t& c : out)
    if (c == L'/') c = L'\\';
  return out;
}

std::wstring CommandLine(const std::wstring& exe, const std::vector<std::wstring>& args) {
  std::wstring line = Quoted(exe);
  for (const std::wstring& arg : args) line += L" " + Quoted(arg);
  return line;
}

Program::~Program() {
  if (Running()) Terminate();
  if (info_.hProcess) CloseHandle(info_.hProcess);
  if (info_.hThread) CloseHandle(info_.hThread);
}

bool Program::Start(const std::wstring& exe, const std::wstring& folder,
                    const std::vector<std::wstring>& args, std::string& error) {
  std::wstring line = CommandLine(exe, args);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                      &startup, &info_)) {
    error = "cannot start " + Utf8(exe) + ": error " + std::to_string(GetLastError());
    info_ = {};
    return false;
  }
  return true;
}

bool Program::Running() const {
  return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Program::WaitForExit(int timeoutMs, DWORD& exitCode) {
  if (!info_.hProcess || WaitForSingleObject(info_.hProcess, DWORD(timeoutMs)) != WAIT_OBJECT_0)
    return false;
  GetExitCodeProcess(info_.hProcess, &exitCode);
  return true;
}

void Program::Terminate() {
  if (!info_.hProcess) return;
  TerminateProcess(info_.hProcess, 1);
  WaitForSingleObject(info_.hProcess, 5000);
}

TempFolder::TempFolder(const std::wstring& prefix) {
  wchar_t base[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, base);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring path = std::wstring(base) + prefix + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(GetTickCount64() + ULONGLONG(attempt));
    if (CreateDirectoryW(path.c_str(), nullptr)) {
      path_ = path;
      return;
    }
  }
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(path_), ec);
}

bool TempFolder::Has(const std::wstring& name) const {
  std::error_code ec;
  return std::filesystem::is_regular_file(std::filesystem::path(path_) / name, ec);
}

std::vector<std::string> TempFolder::Files() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(path_), ec))
    if (entry.is_regular_file()) names.push_back(Utf8(entry.path().filename().wstring()));
  return names;
}

std::vector<HWND> TopWindows(DWORD pid, const wchar_t* windowClass, bool visibleOnly) {
  struct Search {
    DWORD pid;
    std::wstring windowClass;
    bool visibleOnly;
    std::vector<HWND> found;
  } search{pid, windowClass, visibleOnly, {}};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (s.pid && owner != s.pid) return TRUE;
        if (s.visibleOnly && !IsWindowVisible(window)) return TRUE;
        wchar_t name[128] = {};
        GetClassNameW(window, name, 128);
        if (s.windowClass == name) s.found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND TopWindow(DWORD pid, const wchar_t* windowClass, bool visibleOnly) {
  const std::vector<HWND> found = TopWindows(pid, windowClass, visibleOnly);
  return found.empty() ? nullptr : found.front();
}

HWND Control(HWND root, int id) {
  if (!root) return nullptr;
  struct Search {
    int id;
    HWND found;
  } search{id, nullptr};
  EnumChildWindows(
      root,
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        if (GetDlgCtrlID(window) != s.id) return TRUE;
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string Text(HWND window, bool* busy) {
  if (busy) *busy = false;
  DWORD_PTR length = 0;
  if (!window || !SendWithin(window, WM_GETTEXTLENGTH, 0, 0, &length)) {
    if (busy) *busy = window != nullptr;
    return {};
  }
  std::wstring text(size_t(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendWithin(window, WM_GETTEXT, WPARAM(text.size()), reinterpret_cast<LPARAM>(text.data()),
                  &copied)) {
    if (busy) *busy = true;
    return {};
  }
  text.resize(std::min<size_t>(size_t(copied), text.size()));
  return Utf8(text);
}

std::string ClassOf(HWND window) {
  wchar_t name[128] = {};
  GetClassNameW(window, name, 128);
  return Utf8(name);
}

bool Checked(HWND box) {
  DWORD_PTR state = 0;
  return box && SendWithin(box, BM_GETCHECK, 0, 0, &state) && state == BST_CHECKED;
}

int ComboCount(HWND combo) {
  DWORD_PTR count = 0;
  return combo && SendWithin(combo, CB_GETCOUNT, 0, 0, &count) ? int(count) : -1;
}

void PostCommand(HWND notify, int id, int code, HWND control) {
  PostMessageW(notify, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
}

void PostCheck(HWND notify, HWND box, bool on) {
  SendSoon(box, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  PostCommand(notify, GetDlgCtrlID(box), BN_CLICKED, box);
}

void PostChoose(HWND notify, HWND combo, int index) {
  SendSoon(combo, CB_SETCURSEL, WPARAM(index), 0);
  PostCommand(notify, GetDlgCtrlID(combo), CBN_SELCHANGE, combo);
}

void PostType(HWND notify, HWND edit, const std::string& text) {
  const std::wstring wide = Wide(text);
  SendSoon(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  PostCommand(notify, GetDlgCtrlID(edit), EN_KILLFOCUS, edit);
}

bool PressChord(HWND window, const std::vector<WORD>& modifiers, WORD key) {
  // Windows lets another process bring a window to the front only in some states, and a
  // window just shown may not be mapped yet: asked again until it is in front.
  const bool front = WaitUntil(
      [&] {
        SetForegroundWindow(window);
        return GetForegroundWindow() == window;
      },
      3000);
  if (!front) return false;
  std::vector<INPUT> inputs;
  auto add = [&](WORD vk, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = WORD(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(input);
  };
  for (WORD m : modifiers) add(m, false);
  add(key, false);
  add(key, true);
  for (auto m = modifiers.rbegin(); m != modifiers.rend(); ++m) add(*m, true);
  return SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

bool SaveWindowBitmap(HWND window, const std::wstring& path) {
  RECT r{};
  if (!GetWindowRect(window, &r) || r.right <= r.left || r.bottom <= r.top) return false;
  const int w = r.right - r.left, h = r.bottom - r.top;
  BITMAPINFOHEADER head{};
  head.biSize = sizeof head;
  head.biWidth = w;
  head.biHeight = h;  // bottom-up, as the file keeps it
  head.biPlanes = 1;
  head.biBitCount = 24;
  head.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&head), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  bool ok = false;
  if (bitmap) {
    HGDIOBJ old = SelectObject(dc, bitmap);
    ok = BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != FALSE;
    SelectObject(dc, old);
    GdiFlush();
    const DWORD stride = DWORD((w * 3 + 3) & ~3), size = stride * DWORD(h);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof head;
    file.bfSize = file.bfOffBits + size;
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ok = ok && out != INVALID_HANDLE_VALUE &&
         WriteFile(out, &file, sizeof file, &written, nullptr) &&
         WriteFile(out, &head, sizeof head, &written, nullptr) &&
         WriteFile(out, bits, size, &written, nullptr);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    DeleteObject(bitmap);
  }
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return ok;
}

std::vector<DialogSeen> Dialogs(DWORD pid) {
  std::vector<DialogSeen> seen;
  for (HWND dialog : TopWindows(pid, win32::kDialogClass)) {
    DialogSeen d;
    d.window = dialog;
    d.name = Text(Control(dialog, win32::kDialogNameId));
    d.title = Text(dialog);
    d.text = Text(Control(dialog, win32::kDialogTextId));
    seen.push_back(d);
  }
  return seen;
}

std::string DescribeDialogs(DWORD pid) {
  std::string text;
  for (const DialogSeen& d : Dialogs(pid))
    text += "\n  dialog \"" + d.name + "\" titled \"" + d.title + "\": " + d.text;
  return text.empty() ? "\n  no dialog open" : text;
}

LoaderWindow::LoaderWindow(const std::wstring& title) : thread_([this, title] { Run(title); }) {
  WaitUntil([this] { return threadId_.load() != 0; }, 5000);
}

LoaderWindow::~LoaderWindow() {
  if (const DWORD id = threadId_.load()) {
    // The thread's queue exists before threadId_ is set; a quit may need a second try while
    // the window is still being made.
    WaitUntil([id] { return PostThreadMessageW(id, WM_QUIT, 0, 0) != FALSE; }, 2000);
  }
  if (thread_.joinable()) thread_.join();
}

std::string LoaderWindow::Title() const {
  HWND window = window_.load();
  if (!window) return {};
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return Utf8(text);
}

void LoaderWindow::Run(std::wstring title) {
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // makes the thread's queue
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TApplication";
  RegisterClassW(&wc);
  // Hidden, as a loader's application window is; FindWindow finds it all the same.
  window_ = CreateWindowExW(0, L"TApplication", title.c_str(), WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                            nullptr, wc.hInstance, nullptr);
  threadId_ = GetCurrentThreadId();
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (HWND window = window_.exchange(nullptr)) DestroyWindow(window);
}

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool LinkCjkFontUnderWine() {
  if (!UnderWine()) return true;
  HKEY k;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                      L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink", 0,
                      nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
    return false;
  // REG_MULTI_SZ: one string, then the empty one that ends the list.
  static const wchar_t kLink[] = L"wqy-microhei.ttc,WenQuanYi Micro Hei\0";
  bool ok = true;
  for (const wchar_t* font : {L"Tahoma", L"MS Shell Dlg", L"MS Shell Dlg 2", L"Segoe UI"})
    ok &= RegSetValueExW(k, font, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kLink),
                         sizeof kLink) == ERROR_SUCCESS;
  RegCloseKey(k);
  return ok;
}

bool DeleteUserValue(const std::wstring& key, const std::wstring& name) {
  HKEY k;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS)
    return true;  // no key, no value
  const LONG r = RegDeleteValueW(k, name.c_str());
  RegCloseKey(k);
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

bool SetUserString(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  HKEY k;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const LONG r =
      RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     DWORD((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
  return r == ERROR_SUCCESS;
}

std::string UserString(const std::wstring& key, const std::wstring& name) {
  wchar_t value[256] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, value,
                   &size) != ERROR_SUCCESS)
    return {};
  return Utf8(value);
}

}  // namespace korvel::e2e
