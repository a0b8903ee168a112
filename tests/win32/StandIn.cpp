// A stand-in for the demo's window while the real one is being written: the same classes,
// IDs and dialogs, with a unit that passes after a short pretend run. Removed once the demo
// lands.
#include <windows.h>
#undef Yield

#include <string>

#include "connection/StationPresenter.h"
#include "localization/Lang.h"
#include "production/ProductionRecord.h"
#include "ui/win32/WindowIds.h"

namespace {
using namespace korvel;
using win32::ControlId;

HINSTANCE g_instance;
HWND g_form, g_panel, g_page, g_group;
int g_lang = 0;
bool g_plugged = true, g_powered = true, g_bindMode = false, g_released = false, g_unlocked = false,
     g_running = false, g_autoStart = false, g_autoDone = false;
int g_logoClicks = 0;
const wchar_t* g_address = L"92 34 56";
ULONGLONG g_runStart = 0;
ProductionRecord g_record;
int64_t g_row = 0;

std::wstring W(const std::string& s) {
  std::wstring out(s.size() * 2 + 1, L'\0');
  out.resize(size_t(
      MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), out.data(), int(out.size()))));
  return out;
}
HWND Item(const char* name) {
  return GetDlgItem(g_group, ControlId(name)) ? GetDlgItem(g_group, ControlId(name))
                                              : GetDlgItem(g_form, ControlId(name));
}
void SetText(const char* name, const std::string& text) {
  SetWindowTextW(Item(name), W(text).c_str());
}
std::string GetText(HWND w) {
  wchar_t buffer[256] = {};
  GetWindowTextW(w, buffer, 256);
  std::string out(512, '\0');
  out.resize(
      size_t(WideCharToMultiByte(CP_UTF8, 0, buffer, -1, out.data(), 512, nullptr, nullptr)));
  if (!out.empty()) out.pop_back();
  return out;
}

// A modal dialog; returns the button pressed and the edit's text or the combo's choice.
struct DialogResult {
  int button = IDCANCEL;
  std::string edit;
  int choice = -1;
};
DialogResult* g_dialog;

LRESULT CALLBACK DialogProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
    g_dialog->button = LOWORD(wp);
    if (HWND e = GetDlgItem(w, win32::kDialogEditId)) g_dialog->edit = GetText(e);
    if (HWND c = GetDlgItem(w, win32::kDialogLanguageId))
      g_dialog->choice = int(SendMessageW(c, CB_GETCURSEL, 0, 0));
    DestroyWindow(w);
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

DialogResult RunDialog(const char* name, const std::string& title, const std::string& text,
                       bool edit, bool languages) {
  DialogResult result;
  g_dialog = &result;
  HWND d = CreateWindowExW(0, win32::kDialogClass, W(title).c_str(), WS_POPUP | WS_CAPTION, 100,
                           100, 300, 160, g_form, nullptr, g_instance, nullptr);
  CreateWindowExW(0, L"STATIC", W(name).c_str(), WS_CHILD, 0, 0, 10, 10, d,
                  HMENU(intptr_t(win32::kDialogNameId)), g_instance, nullptr);
  CreateWindowExW(0, L"STATIC", W(text).c_str(), WS_CHILD | WS_VISIBLE, 8, 8, 280, 20, d,
                  HMENU(intptr_t(win32::kDialogTextId)), g_instance, nullptr);
  if (edit)
    CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_PASSWORD, 8, 36, 200, 22, d,
                    HMENU(intptr_t(win32::kDialogEditId)), g_instance, nullptr);
  if (languages) {
    HWND c =
        CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, 8, 36, 200,
                        100, d, HMENU(intptr_t(win32::kDialogLanguageId)), g_instance, nullptr);
    for (const wchar_t* l : {L"English", L"Traditional", L"Simplified"})
      SendMessageW(c, CB_ADDSTRING, 0, LPARAM(l));
    SendMessageW(c, CB_SETCURSEL, 0, 0);
  }
  CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE, 8, 80, 80, 26, d, HMENU(IDOK),
                  g_instance, nullptr);
  ShowWindow(d, SW_SHOW);
  if (g_form) EnableWindow(g_form, FALSE);
  MSG msg;
  while (IsWindow(d) && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (g_form) EnableWindow(g_form, TRUE);
  return result;
}

void Render() {
  const bool ready = g_plugged && g_powered && !g_released;
  SetText("edtRX", ready ? "Mouse RX Ready" : "Mouse RX Not Ready");
  SetText("edtTX", ready ? "Mouse TX Ready" : "Mouse TX Not Ready");
  EnableWindow(Item("btnGo"), ready && !g_running);
  SetWindowTextW(GetDlgItem(g_panel, 2007),
                 (std::wstring(g_plugged && g_powered ? L"Link: up" : L"Link: down") +
                  L"   RX address " + g_address)
                     .c_str());
}

void Go() {
  if (g_running || g_released || !g_plugged || !g_powered) return;
  g_running = true;
  SetText("lblResult", "Wait");
  SetText("edtCaliTime", "");
  g_runStart = GetTickCount64();
  Phrase error;
  RecordRow row;
  row.result = "RUNNING";
  g_row = g_record.Begin(row, error).value_or(0);
  SetTimer(g_form, 2, 700, nullptr);
  Render();
}

void RunEnded() {
  KillTimer(g_form, 2);
  const ULONGLONG ms = GetTickCount64() - g_runStart;
  Phrase error;
  g_record.Finish(g_row, "PASS", "", int64_t(ms), true, error);
  SetText("lblResult", "PASS");
  SetText("edtCaliTime", std::to_string(ms / 1000) + "." + std::to_string(ms % 1000));
  g_running = false;
  g_released = true;
  if (g_autoStart)
    if (HWND loader = FindWindowA("TApplication", "KRVRF MFP Loader"))
      SetWindowTextA(loader, "PASS");
  Render();
}

void LogoDoubleClick() {
  if (++g_logoClicks % 5 != 0) return;
  const DialogResult r = RunDialog("dlgPass", "Password", "Pass phrase", true, false);
  if (r.button == IDOK && r.edit == kPassPhrase) g_unlocked = true;
  EnableWindow(Item("rbMouseOnly"), g_unlocked);
}

void Command(int id, int code) {
  if (id == ControlId("btnGo")) Go();
  if (id == ControlId("imgLogo") && code == STN_DBLCLK) LogoDoubleClick();
  if (id == ControlId("btnCombo_Cmd_Soft_Bind_SW") && g_bindMode)
    SetTimer(g_form, 3, 1000, nullptr);
}

LRESULT CALLBACK GroupProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_COMMAND) return SendMessageW(GetParent(w), m, wp, lp);
  return DefWindowProcW(w, m, wp, lp);
}

LRESULT CALLBACK FormProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  switch (m) {
    case WM_COMMAND:
      Command(LOWORD(wp), HIWORD(wp));
      return 0;
    case WM_TIMER:
      if (wp == 1) {
        Render();
        if (g_autoStart && !g_autoDone && IsWindowEnabled(Item("btnGo"))) {
          g_autoDone = true;
          Go();
        }
      } else if (wp == 2) {
        RunEnded();
      } else if (wp == 3) {
        KillTimer(w, 3);
        g_address = L"a1 b2 c3";
        RunDialog("dlgBind", "Connect", *korvel::TextOf(5, TLanguateKind(g_lang)), false, false);
      }
      return 0;
    case WM_CLOSE:
      CloseHandle(CreateFileW(L"TX.ini", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      DestroyWindow(w);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

LRESULT CALLBACK PanelProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_COMMAND && HIWORD(wp) == BN_CLICKED) {
    const bool on = SendMessageW(HWND(lp), BM_GETCHECK, 0, 0) == BST_CHECKED;
    switch (LOWORD(wp)) {
      case 2001:
        if (!on) g_released = false;
        if (on && !g_plugged) {
          SetText("lblResult", "");
          SetText("edtCaliTime", "");
        }
        g_plugged = on;
        break;
      case 2002:
        g_powered = on;
        break;
      case 2005:
        g_bindMode = on;
        break;
    }
    Render();
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

HWND Child(HWND parent, const wchar_t* cls, const char* name, DWORD style, int x, int y, int w,
           int h, const wchar_t* text = L"") {
  return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                         HMENU(intptr_t(ControlId(name))), g_instance, nullptr);
}

void Register(const wchar_t* name, WNDPROC proc) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = g_instance;
  wc.hbrBackground = HBRUSH(COLOR_BTNFACE + 1);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = name;
  RegisterClassW(&wc);
}
}  // namespace

int main(int argc, char**) {
  g_instance = GetModuleHandleW(nullptr);
  g_autoStart = argc > 1;
  Register(win32::kFormClass, FormProc);
  Register(win32::kGroupClass, GroupProc);
  Register(win32::kDialogClass, DialogProc);
  Register(win32::kPageClass, DefWindowProcW);
  Register(L"KorvelRfEmulator", PanelProc);
  Phrase error;
  g_record.Open(kRecordFileName, error);

  auto saved = CreateSystemLanguageStore();
  if (auto value = saved->Read(); value && ParseSavedLanguage(*value)) {
    g_lang = *ParseSavedLanguage(*value);
  } else {
    g_lang = std::max(0, RunDialog("Form2", "Language", "Choose", false, true).choice);
    saved->Write(LanguageValueName(TLanguateKind(g_lang)));
  }
  const std::string title = std::string(kFormCaption) + " For B-Nova Only TempID=" +
                            std::to_string(GetCurrentProcessId() % 255);
  g_form = CreateWindowExW(0, win32::kFormClass, W(title).c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 900,
                           400, nullptr, nullptr, g_instance, nullptr);
  g_group = Child(g_form, win32::kGroupClass, "gbGo", 0, 0, 100, 880, 200);
  Child(g_group, L"BUTTON", "btnGo", 0, 260, 14, 150, 60,
        W(*korvel::TextOf(39, TLanguateKind(g_lang))).c_str());
  Child(g_group, L"STATIC", "lblResult", 0, 420, 8, 170, 60);
  Child(g_group, L"EDIT", "edtCaliTime", ES_READONLY, 440, 80, 80, 24);
  Child(g_group, L"EDIT", "edtRX", ES_READONLY, 40, 20, 210, 26);
  Child(g_group, L"EDIT", "edtTX", ES_READONLY, 40, 56, 210, 26);
  Child(g_form, L"STATIC", "imgLogo", SS_NOTIFY, 8, 4, 200, 60, L"logo");
  Child(g_form, L"BUTTON", "btnCombo_Cmd_Soft_Bind_SW", 0, 288, 20, 116, 32, L"Connect");
  EnableWindow(Child(g_form, L"BUTTON", "rbMouseOnly", BS_RADIOBUTTON, 600, 20, 100, 20, L"M"),
               FALSE);
  HWND gbRX = Child(g_form, win32::kGroupClass, "gbRX", 0, 0, 320, 880, 60);
  ShowWindow(gbRX, SW_HIDE);
  ShowWindow(g_form, SW_SHOW);

  g_panel = CreateWindowExW(0, L"KorvelRfEmulator", L"Emulated dongle and mouse",
                            WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 920, 0, 300, 260, nullptr,
                            nullptr, g_instance, nullptr);
  for (int id = 2001; id <= 2005; ++id) {
    HWND box = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_CHECKBOX, 8,
                               8 + 24 * (id - 2001), 200, 20, g_panel, HMENU(intptr_t(id)),
                               g_instance, nullptr);
    SendMessageW(box, BM_SETCHECK, id <= 2004 ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 8, 150, 280, 40, g_panel,
                  HMENU(intptr_t(2007)), g_instance, nullptr);
  SetTimer(g_form, 1, 200, nullptr);
  Render();

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    const bool ours = msg.hwnd == g_form || IsChild(g_form, msg.hwnd);
    if (ours && msg.message == WM_KEYDOWN && msg.wParam == VK_NEXT) {
      if (IsWindowEnabled(Item("btnGo"))) Go();
      continue;
    }
    if (ours && msg.message == WM_KEYDOWN && msg.wParam == 'E' &&
        (GetKeyState(VK_CONTROL) & 0x8000) && (GetKeyState(VK_SHIFT) & 0x8000) && g_unlocked) {
      if (!g_page) {
        g_page = CreateWindowExW(0, win32::kPageClass, L"Engineering", WS_OVERLAPPEDWINDOW, 0, 420,
                                 900, 356, g_form, nullptr, g_instance, nullptr);
        SetWindowLongPtrW(g_page, GWLP_ID, ControlId("spgcntrl1"));
      }
      const bool show = !IsWindowVisible(g_page);
      ShowWindow(g_page, show ? SW_SHOW : SW_HIDE);
      ShowWindow(gbRX, show ? SW_SHOW : SW_HIDE);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  g_record.Close();
  return 0;
}
