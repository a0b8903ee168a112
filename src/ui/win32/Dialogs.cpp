#include "ui/win32/Dialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "ui/win32/Controls.h"
#include "ui/win32/Pictures.h"
#include "ui/win32/Wide.h"
#include "ui/win32/WindowIds.h"

namespace korvel::win32 {

namespace {

// A modal window of controls placed in design pixels; closed by one of its buttons.
class ModalDialog {
 public:
  ModalDialog(const DialogLook& look, const std::wstring& caption, const std::string& name)
      : look_(look), caption_(caption) {
    Register();
    window_ = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kDialogClass,
                              caption.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                              0, 0, 10, 10, look.owner, nullptr, GetModuleHandleW(nullptr), this);
    Add(L"STATIC", Wide(name), 0, kDialogNameId, 0, 0, 0, 0).hidden = true;
  }
  ~ModalDialog() {
    if (window_) DestroyWindow(window_);
  }
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;

  struct Part {
    HWND window = nullptr;
    bool hidden = false;
  };
  Part& Add(const wchar_t* cls, const std::wstring& text, DWORD style, int id, int x, int y, int w,
            int h, DWORD exStyle = 0) {
    const int dpi = look_.dpi;
    Part part;
    part.window = CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | style, Scaled(x, dpi),
                                  Scaled(y, dpi), Scaled(w, dpi), Scaled(h, dpi), window_,
                                  HMENU(INT_PTR(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(part.window, WM_SETFONT, WPARAM(look_.font), FALSE);
    parts_.push_back(part);
    return parts_.back();
  }
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  HWND Handle() const { return window_; }
  // The text's size in design pixels when wrapped at most `width` wide.
  SIZE Measure(const std::wstring& text, int width) const {
    HDC dc = GetDC(window_);
    const HGDIOBJ old = SelectObject(dc, look_.font);
    RECT r{0, 0, Scaled(width, look_.dpi), 0};
    DrawTextW(dc, text.c_str(), int(text.size()), &r,
              DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(window_, dc);
    return {Unscaled(r.right, look_.dpi), Unscaled(r.bottom, look_.dpi)};
  }

  std::function<void(const DRAWITEMSTRUCT&)> Draw;
  std::function<void(MEASUREITEMSTRUCT&)> MeasureItem;
  int defaultId = IDOK;
  int closeId = IDCANCEL;  // what the window's close box and Escape mean

  // Shows the dialog (client size in design pixels) and returns the ID of what closed it.
  int Run(int width, int height, bool onScreenCentre) {
    RECT frame{0, 0, Scaled(width, look_.dpi), Scaled(height, look_.dpi)};
    AdjustWindowRectEx(&frame, DWORD(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                       DWORD(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    RECT over{};
    if (look_.owner && !onScreenCentre && IsWindowVisible(look_.owner))
      GetWindowRect(look_.owner, &over);
    else
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
    SetWindowPos(window_, HWND_TOP, (over.left + over.right - w) / 2,
                 (over.top + over.bottom - h) / 2, w, h, SWP_NOACTIVATE);
    for (const Part& part : parts_)
      if (!part.hidden) ShowWindow(part.window, SW_SHOWNA);

    const bool ownerWasEnabled = look_.owner && IsWindowEnabled(look_.owner);
    if (ownerWasEnabled) EnableWindow(look_.owner, FALSE);
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    HWND first = Item(kDialogEditId) ? Item(kDialogEditId) : Item(defaultId);
    if (first) SetFocus(first);
    MSG msg;
    while (result_ == 0) {
      const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got <= 0) {
        // The program is ending: the loop above this one must see it too.
        PostQuitMessage(got == 0 ? int(msg.wParam) : 1);
        result_ = closeId;
        break;
      }
      if (!IsDialogMessageW(window_, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    // The owner comes back first, so that it, not another program, is activated.
    if (ownerWasEnabled) EnableWindow(look_.owner, TRUE);
    ShowWindow(window_, SW_HIDE);
    return result_;
  }

 private:
  static void Register() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = HBRUSH(COLOR_BTNFACE + 1);
    wc.lpszClassName = kDialogClass;
    RegisterClassExW(&wc);
  }
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        LONG_PTR(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
      case DM_GETDEFID:
        return MAKELRESULT(self->defaultId, DC_HASDEFID);
      case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDCANCEL) {
          self->result_ = self->closeId;  // Escape
          return 0;
        }
        if ((id == IDOK || id == IDYES || id == IDNO) &&
            (HIWORD(wParam) == BN_CLICKED || lParam == 0)) {
          self->result_ = id;
          return 0;
        }
        break;
      }
      case WM_CLOSE:
        self->result_ = self->closeId;
        return 0;
      case WM_DRAWITEM:
        if (self->Draw) self->Draw(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
        return TRUE;
      case WM_MEASUREITEM:
        if (self->MeasureItem) self->MeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
      case WM_CTLCOLORSTATIC:
        SetBkMode(HDC(wParam), TRANSPARENT);
        return LRESULT(GetSysColorBrush(COLOR_BTNFACE));
      case WM_NCDESTROY:
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        break;
      default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  DialogLook look_;
  std::wstring caption_;
  HWND window_ = nullptr;
  std::vector<Part> parts_;
  int result_ = 0;
};

constexpr int kMargin = 16;
constexpr int kButtonW = 84, kButtonH = 26;

// A button wide enough for its caption.
int ButtonWidth(const ModalDialog& d, const DialogLook& look, const std::wstring& text) {
  return std::max(kButtonW, Unscaled(TextPixels(d.Handle(), look.font, text), look.dpi) + 24);
}

}  // namespace

void MessageDialog(const DialogLook& look, const std::string& name, const std::wstring& caption,
                   const std::wstring& text, const std::wstring& ok) {
  ModalDialog d(look, caption, name);
  const wchar_t* icon = name == "dlgBind" ? IDI_INFORMATION : name.empty() ? nullptr : IDI_WARNING;
  const int textX = icon ? kMargin + 32 + 12 : kMargin;
  const SIZE size = d.Measure(text, 420);
  const int textH = std::max<int>(size.cy, icon ? 32 : 0);
  if (icon) {
    HWND picture = d.Add(L"STATIC", L"", SS_ICON, -1, kMargin, kMargin, 32, 32).window;
    SendMessageW(picture, STM_SETICON, WPARAM(LoadIconW(nullptr, icon)), 0);
  }
  d.Add(L"STATIC", text, SS_LEFT | SS_NOPREFIX, kDialogTextId, textX, kMargin + (icon ? 8 : 0),
        size.cx + 4, size.cy);
  const int okW = ButtonWidth(d, look, ok);
  const int width = std::max<int>(textX + size.cx + 4 + kMargin, okW + 2 * kMargin);
  const int buttonY = kMargin + textH + (icon ? 8 : 0) + 16;
  d.Add(L"BUTTON", ok, BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, width - kMargin - okW, buttonY, okW,
        kButtonH);
  d.closeId = IDOK;
  d.Run(width, buttonY + kButtonH + 12, false);
}

bool QuestionDialog(const DialogLook& look, const std::wstring& caption, const std::wstring& text,
                    const std::wstring& yes, const std::wstring& no) {
  ModalDialog d(look, caption, "dlgQuestion");
  const int textX = kMargin + 32 + 12;
  const SIZE size = d.Measure(text, 420);
  HWND picture = d.Add(L"STATIC", L"", SS_ICON, -1, kMargin, kMargin, 32, 32).window;
  SendMessageW(picture, STM_SETICON, WPARAM(LoadIconW(nullptr, IDI_QUESTION)), 0);
  d.Add(L"STATIC", text, SS_LEFT | SS_NOPREFIX, kDialogTextId, textX, kMargin + 8, size.cx + 4,
        size.cy);
  const int yesW = ButtonWidth(d, look, yes), noW = ButtonWidth(d, look, no);
  const int width = std::max<int>(textX + size.cx + 4 + kMargin, yesW + noW + 8 + 2 * kMargin);
  const int buttonY = kMargin + std::max<int>(size.cy + 8, 32) + 16;
  d.Add(L"BUTTON", yes, BS_PUSHBUTTON | WS_TABSTOP, IDYES, width - kMargin - noW - 8 - yesW,
        buttonY, yesW, kButtonH);
  d.Add(L"BUTTON", no, BS_DEFPUSHBUTTON | WS_TABSTOP, IDNO, width - kMargin - noW, buttonY, noW,
        kButtonH);
  // No is the safe answer: Enter, Escape and the close box give it.
  d.defaultId = IDNO;
  d.closeId = IDNO;
  return d.Run(width, buttonY + kButtonH + 12, false) == IDYES;
}

std::optional<std::wstring> PasswordDialog(const DialogLook& look) {
  ModalDialog d(look, L"Setting", "dlgPass");
  d.Add(L"STATIC", L"PASSWORD:", SS_LEFT, kDialogTextId, kMargin, kMargin, 240, 20);
  HWND edit = d.Add(L"EDIT", L"", ES_PASSWORD | ES_AUTOHSCROLL | WS_TABSTOP, kDialogEditId, kMargin,
                    kMargin + 22, 240, 24, WS_EX_CLIENTEDGE)
                  .window;
  SendMessageW(edit, EM_SETPASSWORDCHAR, L'*', 0);
  const int buttonY = kMargin + 22 + 24 + 16;
  d.Add(L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, kMargin + 240 - 2 * kButtonW - 8,
        buttonY, kButtonW, kButtonH);
  d.Add(L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL, kMargin + 240 - kButtonW,
        buttonY, kButtonW, kButtonH);
  if (d.Run(240 + 2 * kMargin, buttonY + kButtonH + 12, false) != IDOK) return std::nullopt;
  return WindowText(edit);
}

int LanguageDialog(const DialogLook& look, const std::wstring& caption, int preselected) {
  ModalDialog d(look, caption, "Form2");
  d.Add(L"STATIC", L"", SS_OWNERDRAW, kDialogTextId + 10, 16, 16, 56, 56);
  d.Add(L"STATIC", L"Please select a language.", SS_LEFT, kDialogTextId, 88, 16, 220, 22);
  HWND box = d.Add(L"COMBOBOX", L"",
                   CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP,
                   kDialogLanguageId, 88, 44, 100, 130)
                 .window;
  for (const wchar_t* item : {L"|0", L"|1", L"|2"})
    SendMessageW(box, CB_ADDSTRING, 0, LPARAM(item));
  SendMessageW(box, CB_SETCURSEL, WPARAM(std::clamp(preselected, 0, 2)), 0);
  d.Add(L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, 120, 104, 80, 30);
  const int dpi = look.dpi;
  d.Draw = [dpi](const DRAWITEMSTRUCT& item) {
    if (item.CtlType == ODT_COMBOBOX) return DrawImageItem(item, dpi);
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    PaintGlobe(item.hDC, item.rcItem);
  };
  // Items tall enough for the badges (the list is measured before the first draw).
  SendMessageW(box, CB_SETITEMHEIGHT, WPARAM(-1), Scaled(24, dpi));
  SendMessageW(box, CB_SETITEMHEIGHT, 0, Scaled(24, dpi));
  d.closeId = IDOK;
  d.Run(320, 150, true);
  const LRESULT chosen = SendMessageW(box, CB_GETCURSEL, 0, 0);
  return chosen == CB_ERR ? preselected : int(chosen);
}

}  // namespace korvel::win32
