#include "ui/win32/Form1.h"

#include <commctrl.h>

#include <algorithm>

#include "localization/Lang.h"
#include "ui/win32/Pictures.h"
#include "ui/win32/Wide.h"
#include "ui/win32/WindowIds.h"

namespace korvel::win32 {

namespace {
constexpr int kTraceLines = 2000;  // the oldest go first
constexpr UINT_PTR kBindTimer = 1;
constexpr UINT kShowPending = WM_APP + 10;
constexpr int kComboList = 200;  // how far a drop-down list opens, in design pixels
constexpr int kSpinArrows = 17;
const COLORREF kReadOnlyBack = RGB(0xFA, 0xFA, 0xFA);

COLORREF NamedColour(const std::string& name) {
  if (name == "red") return RGB(0xFF, 0, 0);
  if (name == "green") return RGB(0, 0x80, 0);
  if (name == "blue") return RGB(0, 0, 0xFF);
  return GetSysColor(COLOR_WINDOWTEXT);
}

bool IsTextKind(ControlKind kind) {
  return kind == ControlKind::Edit || kind == ControlKind::HexEdit;
}
bool IsCombo(ControlKind kind) {
  return kind == ControlKind::ComboBox || kind == ControlKind::ImageComboBox;
}
}  // namespace

void TForm1::RegisterClasses() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = FormProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = HBRUSH(COLOR_BTNFACE + 1);
  // The program's icon is resource 1; a test program without one gets the system's.
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  wc.style = CS_DBLCLKS;
  for (const wchar_t* name : {kFormClass, kPageClass, kGroupClass}) {
    wc.lpszClassName = name;
    RegisterClassExW(&wc);  // a second window finds them registered
  }
}

TForm1::TForm1(StationEnvironment env) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                                                     ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&controls);
  RegisterClasses();
  station_ = std::make_unique<Station>(env, *this);
  workingDirectory_ = env.workingDirectory;
  Build();
  rendering_ = true;
  Render(presenter().View());  // the controls as designed, before FormCreate
  rendering_ = false;
}

TForm1::~TForm1() {
  presenter().SetTraceSink(nullptr);
  closing_ = true;
  destroying_ = true;  // the program's loop ends on the operator's close, not here
  if (page_) DestroyWindow(page_);
  if (form_) DestroyWindow(form_);
  if (customLogo_) DeleteObject(customLogo_);
}

// --- building -------------------------------------------------------------------------------

void TForm1::Build() {
  // Creating controls reports changes of their own (a spin box's text); none is the operator's.
  rendering_ = true;
  const std::vector<ControlLayout> rows = MainWindowLayout();
  items_.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    Item item;
    item.row = rows[i];
    item.id = kFirstControlId + int(i);
    item.x = item.row.x;
    item.y = item.row.y;
    item.width = item.designWidth = item.row.width;
    item.height = item.row.height;
    if (i > 0) item.parent = int(byName_.at(item.row.parent));
    byName_[item.row.name] = i;
    byId_[item.id] = i;
    items_.push_back(std::move(item));
    Create(items_.back());
    if (i == 0) dpi_ = DpiOf(form_);
  }
  ApplyFonts();
  WidenSpecialColumns();
  // A group's frame is drawn beneath its children, which were created after it.
  for (const Item& item : items_)
    if (item.frame) SetWindowPos(item.frame, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  PlaceAll();

  // A reason longer than its line ends in "..." and shows whole under the mouse.
  tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX, 0, 0, 0,
                         0, form_, nullptr, GetModuleHandleW(nullptr), nullptr);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = form_;
  tool.uId = UINT_PTR(Control("lblReason"));
  tool.lpszText = const_cast<wchar_t*>(L"");
  SendMessageW(tip_, TTM_ADDTOOLW, 0, LPARAM(&tool));
  SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, Scaled(600, dpi_));

  const std::wstring logo = (workingDirectory_ / "logo.bmp").wstring();
  customLogo_ = HBITMAP(LoadImageW(nullptr, logo.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
  HWND trace = Control("lstTrace");
  presenter().SetTraceSink([trace](const std::string& line) {
    const std::wstring text = Wide(line);
    SendMessageW(trace, LB_ADDSTRING, 0, LPARAM(text.c_str()));
    while (SendMessageW(trace, LB_GETCOUNT, 0, 0) > kTraceLines)
      SendMessageW(trace, LB_DELETESTRING, 0, 0);
    SendMessageW(trace, LB_SETTOPINDEX, WPARAM(SendMessageW(trace, LB_GETCOUNT, 0, 0) - 1), 0);
  });
  rendering_ = false;
}

void TForm1::WidenSpecialColumns() {
  // The columns are as wide as the widest name needs.
  auto name = [](const char* kind, int q, int i) {
    return std::string(kind) + "edtSC0" + std::to_string(q) + "_0" + std::to_string(i);
  };
  int column = kSpecialColumnWidth;
  for (int i = 0; i < kSpecialColumns; ++i) {
    const Item& label = *Find(name("lbl", 1, i));
    column = std::max(column, Unscaled(TextPixels(label.window, fonts_.Of(label.row.font),
                                                  WindowText(label.window)),
                                       dpi_) +
                                  8);
  }
  Item& special = *Find("gbSpecialCmd");
  special.width = special.designWidth = kSpecialColumnsLeft + kSpecialColumns * column + 8;
  for (int i = 0; i < kSpecialColumns; ++i) {
    const int x = kSpecialColumnsLeft + column * i;
    Item& label = *Find(name("lbl", 1, i));
    label.x = x;
    label.width = label.designWidth = column - 2;
    for (int q : {1, 4}) Find(name("", q, i))->x = x;
  }
}

void TForm1::Create(Item& item) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  const ControlLayout& c = item.row;
  const std::wstring caption = Wide(c.caption);
  if (c.kind == ControlKind::Form) {
    form_ = CreateWindowExW(WS_EX_CONTROLPARENT, kFormClass, L"",
                            WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                            CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, this);
    item.window = form_;
    return;
  }
  const Item& parentItem = items_[size_t(item.parent)];
  // The tab pages and the page's result line live in the page's window, over the tab control.
  HWND parent = parentItem.row.kind == ControlKind::TabControl ? page_ : parentItem.window;
  const HMENU id = HMENU(INT_PTR(item.id));
  auto child = [&](const wchar_t* cls, const std::wstring& text, DWORD style, DWORD ex = 0) {
    return CreateWindowExW(ex, cls, text.c_str(), WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 0, 0,
                           parent, id, instance, nullptr);
  };
  const DWORD shown = c.shown ? WS_VISIBLE : 0;
  switch (c.kind) {
    case ControlKind::Form:
      break;
    case ControlKind::Group:
    case ControlKind::TabPage:
      item.window =
          CreateWindowExW(WS_EX_CONTROLPARENT, kGroupClass, L"", WS_CHILD | WS_CLIPSIBLINGS | shown,
                          0, 0, 0, 0, parent, id, instance, this);
      // The settings group is a frame without a line, as designed.
      if (c.kind == ControlKind::Group && c.name != "gbSetting")
        // Beneath its children and clipped by them: it fills what it paints.
        item.frame = CreateWindowExW(0, L"BUTTON", caption.c_str(),
                                     WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_GROUPBOX, 0, 0, 0,
                                     0, item.window, nullptr, instance, nullptr);
      break;
    case ControlKind::Label: {
      DWORD style = SS_NOPREFIX | SS_NOTIFY;
      if (c.align == TextAlign::Centre)
        style |= SS_CENTER;
      else if (c.align == TextAlign::Right)
        style |= SS_RIGHT;
      else
        style |= c.wordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
      // One line stands in the middle of its height, as in the other window.
      if (!c.wordWrap) style |= SS_CENTERIMAGE;
      if (c.elide) style |= SS_ENDELLIPSIS;
      item.window = child(L"STATIC", caption, style | shown);
      break;
    }
    case ControlKind::Picture:
    case ControlKind::Image:
    case ControlKind::Lamp:
      item.window = child(L"STATIC", L"", SS_OWNERDRAW | SS_NOTIFY | shown);
      break;
    case ControlKind::Button:
      item.window = child(L"BUTTON", caption, BS_PUSHBUTTON | WS_TABSTOP | shown);
      break;
    case ControlKind::CheckBox:
      item.window = child(L"BUTTON", caption, BS_AUTOCHECKBOX | WS_TABSTOP | shown);
      break;
    case ControlKind::RadioButton:
      // The window keeps each set exclusive itself, so that the core hears of both buttons.
      item.window = child(L"BUTTON", caption, BS_RADIOBUTTON | WS_TABSTOP | shown);
      break;
    case ControlKind::Edit:
    case ControlKind::HexEdit: {
      DWORD style = ES_AUTOHSCROLL | WS_TABSTOP | shown;
      if (c.align == TextAlign::Right) style |= ES_RIGHT;
      if (c.align == TextAlign::Centre) style |= ES_CENTER;
      if (c.readOnly) style |= ES_READONLY;
      item.window = child(L"EDIT", caption, style, WS_EX_CLIENTEDGE);
      if (c.maxLength > 0) SendMessageW(item.window, EM_SETLIMITTEXT, WPARAM(c.maxLength), 0);
      if (c.kind == ControlKind::HexEdit && c.filterHex) FilterHex(item.window);
      break;
    }
    case ControlKind::ComboBox:
      item.window = child(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | shown);
      break;
    case ControlKind::ImageComboBox:
      item.window = child(
          L"COMBOBOX", L"",
          CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP | shown);
      break;
    case ControlKind::SpinBox:
      item.window = child(L"EDIT", L"", ES_NUMBER | WS_TABSTOP | shown, WS_EX_CLIENTEDGE);
      item.arrows = CreateWindowExW(
          0, UPDOWN_CLASSW, L"",
          WS_CHILD | WS_CLIPSIBLINGS | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS | shown, 0,
          0, 0, 0, parent, nullptr, instance, nullptr);
      SendMessageW(item.arrows, UDM_SETBUDDY, WPARAM(item.window), 0);
      break;
    case ControlKind::ProgressBar:
      item.window = child(PROGRESS_CLASSW, L"", shown);
      break;
    case ControlKind::TabControl:
      // A window of its own beside the main window, owned by it.
      page_ = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT, kPageClass, caption.c_str(),
                              WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 100, 100, form_, nullptr,
                              instance, this);
      tabs_ = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_CLIPSIBLINGS | WS_VISIBLE, 0, 0,
                              0, 0, page_, id, instance, nullptr);
      item.window = page_;
      break;
    case ControlKind::List:
      item.window = child(
          L"LISTBOX", L"",
          LBS_NOINTEGRALHEIGHT | LBS_EXTENDEDSEL | LBS_NOTIFY | WS_VSCROLL | WS_HSCROLL | shown,
          WS_EX_CLIENTEDGE);
      break;
  }
  // A later row stands above the earlier ones it overlaps, as in the other window (the system
  // puts a new child beneath its older siblings).
  if (c.kind != ControlKind::TabControl) {
    for (HWND w : {item.window, item.arrows})
      if (w) SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  if (c.kind == ControlKind::TabPage) {
    TCITEMW tab{};
    tab.mask = TCIF_TEXT;
    std::wstring text = caption;
    tab.pszText = text.data();
    const int index = int(SendMessageW(tabs_, TCM_GETITEMCOUNT, 0, 0));
    SendMessageW(tabs_, TCM_INSERTITEMW, WPARAM(index), LPARAM(&tab));
    tabPages_.push_back(byName_.at(c.name));
    // The first page is shown.
    ShowWindow(item.window, index == 0 ? SW_SHOWNA : SW_HIDE);
  }
}

void TForm1::ApplyFonts() {
  fonts_.Make(dpi_);
  for (const Item& item : items_) {
    const HFONT font = fonts_.Of(item.row.font);
    for (HWND w : {item.window, item.frame})
      if (w && item.row.kind != ControlKind::Form && item.row.kind != ControlKind::TabControl)
        SendMessageW(w, WM_SETFONT, WPARAM(font), FALSE);
    if (IsCombo(item.row.kind)) {
      // The closed list is as high as designed, whatever the font.
      SendMessageW(item.window, CB_SETITEMHEIGHT, WPARAM(-1),
                   std::max(Scaled(item.height, dpi_) - 6, 8));
      if (item.row.kind == ControlKind::ImageComboBox)
        SendMessageW(item.window, CB_SETITEMHEIGHT, 0, Scaled(24, dpi_));
    }
  }
  SendMessageW(tabs_, WM_SETFONT, WPARAM(fonts_.Of(FontSize::Normal)), FALSE);
}

void TForm1::Place(const Item& item) {
  const int x = Scaled(item.x, dpi_), y = Scaled(item.y, dpi_);
  const int w = Scaled(item.width, dpi_), h = Scaled(item.height, dpi_);
  constexpr UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  switch (item.row.kind) {
    case ControlKind::Form: {
      RECT frame{0, 0, w, h};
      AdjustWindowRectEx(&frame, DWORD(GetWindowLongPtrW(form_, GWL_STYLE)), FALSE,
                         DWORD(GetWindowLongPtrW(form_, GWL_EXSTYLE)));
      SetWindowPos(form_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   flags | SWP_NOMOVE);
      return;
    }
    case ControlKind::TabControl:
    case ControlKind::TabPage:
      return;  // placed with the page, as large as its fullest tab
    case ControlKind::ComboBox:
    case ControlKind::ImageComboBox:
      SetWindowPos(item.window, nullptr, x, y, w, h + Scaled(kComboList, dpi_), flags);
      return;
    case ControlKind::SpinBox: {
      // The arrows inside the field's border, and the number kept clear of them.
      const int arrows = Scaled(kSpinArrows, dpi_), edge = GetSystemMetrics(SM_CXEDGE);
      SetWindowPos(item.window, nullptr, x, y, w, h, flags);
      SetWindowPos(item.arrows, nullptr, x + w - arrows - edge, y + edge, arrows, h - 2 * edge,
                   flags);
      SendMessageW(item.window, EM_SETMARGINS, EC_RIGHTMARGIN, MAKELPARAM(0, arrows));
      return;
    }
    case ControlKind::Group:
      SetWindowPos(item.window, nullptr, x, y, w, h, flags);
      if (item.frame) SetWindowPos(item.frame, nullptr, 0, 0, w, h, flags);
      return;
    default: {
      // A control that reaches its group's edge stops short of the frame, which it would hide:
      // the system's controls paint their background, the other window's are transparent.
      int width = w, height = h;
      if (item.parent > 0 && items_[size_t(item.parent)].frame) {
        const Item& group = items_[size_t(item.parent)];
        const int edge = Scaled(2, dpi_);
        width = std::max(1, std::min(w, Scaled(group.width, dpi_) - edge - x));
        height = std::max(1, std::min(h, Scaled(group.height, dpi_) - edge - y));
      }
      SetWindowPos(item.window, nullptr, x, y, width, height, flags);
    }
  }
}

void TForm1::PlaceAll() {
  for (const Item& item : items_) Place(item);
  if (pagePlaced_) PlaceEngineeringPage();
}

TForm1::Item* TForm1::Find(const std::string& name) {
  const auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : &items_[it->second];
}
const TForm1::Item* TForm1::Find(const std::string& name) const {
  const auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : &items_[it->second];
}
TForm1::Item* TForm1::ById(int id) {
  const auto it = byId_.find(id);
  return it == byId_.end() ? nullptr : &items_[it->second];
}

HWND TForm1::Control(const std::string& name) const {
  const Item* item = Find(name);
  return item ? item->window : nullptr;
}

RECT TForm1::DesignRect(const std::string& name) const {
  const Item* item = Find(name);
  if (!item) return {};
  return {item->x, item->y, item->x + item->width, item->y + item->height};
}

// --- messages -------------------------------------------------------------------------------

LRESULT CALLBACK TForm1::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE)
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      LONG_PTR(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  auto* self = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(window, message, wParam, lParam);
}

LRESULT TForm1::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Groups, tab pages and the page's window pass their children's words on to the form.
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam), HIWORD(wParam), HWND(lParam));
      return 0;
    case WM_NOTIFY:
      Notify(*reinterpret_cast<NMHDR*>(lParam));
      return 0;
    case WM_DRAWITEM:
      DrawItem(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_MEASUREITEM: {
      auto& measure = *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      measure.itemHeight = UINT(Scaled(24, dpi_));
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
      return Colour(HDC(wParam), HWND(lParam), false);
    case WM_CTLCOLOREDIT:
      return Colour(HDC(wParam), HWND(lParam), true);
    case WM_CTLCOLORBTN:
      SetBkMode(HDC(wParam), TRANSPARENT);
      return LRESULT(GetSysColorBrush(COLOR_BTNFACE));
    default:
      break;
  }
  if (window == page_) {
    if (message == WM_CLOSE) {
      // Closing the page leaves the engineering view, as the shortcut does.
      if (presenter().State().engineerView) Act([this] { presenter().ToggleEngineerView(); });
      return 0;
    }
    if (message == WM_NCDESTROY) page_ = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  if (window != form_) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_TIMER:
      if (wParam == kBindTimer) {
        bindFrame_ = (bindFrame_ + 1) % kBindFrames;
        InvalidateRect(Control("gifBind"), nullptr, FALSE);
      }
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && !closing_) presenter().FormActivate();
      break;
    case kShowPending:
      ShowPendingMessages();
      return 0;
    case WM_DPICHANGED:
      DpiChanged(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_CLOSE:
      if (!closing_) {
        CommitEdits();
        closing_ = true;
        presenter().FormCloseQuery();
      }
      DestroyWindow(form_);
      return 0;
    case WM_DESTROY:
      KillTimer(form_, kBindTimer);
      if (!destroying_) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      form_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void TForm1::Command(int id, int code, HWND from) {
  if (rendering_ || closing_) return;
  if (id == IDOK && !from) {
    // Enter: commits the entry being typed, as in the other window; Go has its own keys.
    CommitEdits();
    return;
  }
  Item* item = ById(id);
  if (!item) return;
  const std::string& name = item->row.name;
  switch (item->row.kind) {
    case ControlKind::Button:
      if (code != BN_CLICKED) return;
      // The trace list and its Clear button are the window's own.
      if (name == "btnClearTrace") {
        SendMessageW(Control("lstTrace"), LB_RESETCONTENT, 0, 0);
        return;
      }
      Act([this, name] { presenter().Click(name); });
      return;
    case ControlKind::CheckBox:
      if (code == BN_CLICKED) Changed(*item);
      return;
    case ControlKind::RadioButton:
      if (code == BN_CLICKED) RadioClicked(*item);
      return;
    case ControlKind::Edit:
    case ControlKind::HexEdit:
      if (code == EN_KILLFOCUS) Changed(*item);
      return;
    case ControlKind::SpinBox:
      if (code == EN_CHANGE) Changed(*item);
      return;
    case ControlKind::ComboBox:
    case ControlKind::ImageComboBox:
      if (code == CBN_SELCHANGE) Changed(*item);
      return;
    case ControlKind::Picture:
      if (code == STN_DBLCLK) Act([this] { presenter().imgLogoDblClick(); });
      return;
    default:
      return;
  }
}

void TForm1::Notify(const NMHDR& header) {
  if (header.hwndFrom != tabs_ || header.code != TCN_SELCHANGE) return;
  const int index = int(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0));
  ShowTab(index);
}

void TForm1::ShowTab(int index) {
  for (size_t i = 0; i < tabPages_.size(); ++i)
    ShowWindow(items_[tabPages_[i]].window, int(i) == index ? SW_SHOWNA : SW_HIDE);
}

void TForm1::DrawItem(const DRAWITEMSTRUCT& draw) {
  Item* item = ById(int(draw.CtlID));
  if (!item) return;
  if (item->row.kind == ControlKind::ImageComboBox) return DrawImageItem(draw, dpi_);
  HDC dc = draw.hDC;
  const RECT& r = draw.rcItem;
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  const std::string& name = item->row.name;
  if (item->row.kind == ControlKind::Lamp) {
    // A square lamp, green when on, grey when off.
    PaintLamp(dc, r, item->lit, RGB(0, 0xFF, 0), RGB(192, 192, 192));
  } else if (name == "imgLogo") {
    PaintLogo(dc, r);
  } else if (name == "imgCust") {
    if (!customLogo_) return;
    HDC memory = CreateCompatibleDC(dc);
    const HGDIOBJ old = SelectObject(memory, customLogo_);
    BITMAP bitmap{};
    GetObjectW(customLogo_, sizeof bitmap, &bitmap);
    BitBlt(dc, r.left, r.top, std::min<LONG>(bitmap.bmWidth, r.right - r.left),
           std::min<LONG>(bitmap.bmHeight, r.bottom - r.top), memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
  } else if (name == "imgNoneDev") {
    PaintNoDevice(dc, r);
  } else if (name == "imgConnected") {
    PaintConnected(dc, r);
  } else if (name == "gifBind") {
    PaintBindFrame(dc, r, bindFrame_);
  }
}

LRESULT TForm1::Colour(HDC dc, HWND control, bool edit) {
  const Item* item = ById(GetDlgCtrlID(control));
  const bool ownItem = item && item->window == control;
  if (ownItem && !item->colour.empty()) SetTextColor(dc, NamedColour(item->colour));
  if (edit) {
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    return LRESULT(GetSysColorBrush(COLOR_WINDOW));
  }
  if (ownItem && IsTextKind(item->row.kind)) {
    // Read-only and disabled edits come here: a lighter field than the window.
    static const HBRUSH readOnly = CreateSolidBrush(kReadOnlyBack);
    SetBkColor(dc, kReadOnlyBack);
    return LRESULT(readOnly);
  }
  // A disabled group's title greys with its controls.
  if (!ownItem && !IsWindowEnabled(control)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  SetBkMode(dc, TRANSPARENT);
  return LRESULT(GetSysColorBrush(COLOR_BTNFACE));
}

// --- what the operator does -----------------------------------------------------------------

void TForm1::Act(const std::function<void()>& action) {
  if (rendering_) return;
  CommitEdits();
  action();
  Render(presenter().View());
}

void TForm1::CommitEdits() {
  HWND focus = GetFocus();
  if (!focus) return;
  Item* item = ById(GetDlgCtrlID(focus));
  if (item && item->window == focus && IsTextKind(item->row.kind)) Changed(*item);
}

void TForm1::Changed(Item& item) {
  if (rendering_ || closing_) return;
  // The control now shows what the operator did; the next paint sets it whatever the core keeps.
  item.rendered = false;
  const std::string& name = item.row.name;
  if (name == "cbbLang") {
    presenter().cbbLangChange(int(SendMessageW(item.window, CB_GETCURSEL, 0, 0)));
    Render(presenter().View());
    return;
  }
  const ControlState* known = presenter().View().Find(name);
  if (!known) return;
  ControlState state = *known;
  switch (item.row.kind) {
    case ControlKind::Edit:
    case ControlKind::HexEdit: {
      if (GetWindowLongPtrW(item.window, GWL_STYLE) & ES_READONLY) return;
      const std::string text = Narrow(WindowText(item.window));
      if (text == state.text) return;
      state.text = text;
      break;
    }
    case ControlKind::CheckBox:
    case ControlKind::RadioButton: {
      const bool checked = SendMessageW(item.window, BM_GETCHECK, 0, 0) == BST_CHECKED;
      if (checked == state.checked) return;
      state.checked = checked;
      break;
    }
    case ControlKind::ComboBox:
    case ControlKind::ImageComboBox:
      state.itemIndex = int(SendMessageW(item.window, CB_GETCURSEL, 0, 0));
      break;
    case ControlKind::SpinBox: {
      BOOL failed = FALSE;
      const int value = int(SendMessageW(item.arrows, UDM_GETPOS32, 0, LPARAM(&failed)));
      if (failed || value == state.value) return;
      state.value = value;
      break;
    }
    default:
      return;
  }
  presenter().ControlChanged(name, state);
  Render(presenter().View());
}

void TForm1::RadioClicked(Item& item) {
  // Buttons of a named set exclude each other; the others, those of the same parent. The one
  // going off is reported first, as the other window's buttons do.
  for (Item& other : items_) {
    if (&other == &item || other.row.kind != ControlKind::RadioButton) continue;
    const bool sameSet = item.row.radioGroup.empty()
                             ? other.row.radioGroup.empty() && other.parent == item.parent
                             : other.row.radioGroup == item.row.radioGroup;
    if (!sameSet || SendMessageW(other.window, BM_GETCHECK, 0, 0) != BST_CHECKED) continue;
    // (a driver may have checked the new one already; the old one still shows checked)
    SendMessageW(other.window, BM_SETCHECK, BST_UNCHECKED, 0);
    Changed(other);
  }
  SendMessageW(item.window, BM_SETCHECK, BST_CHECKED, 0);
  Changed(item);
}

namespace {
// An entry commits itself on Enter, and a button that has the focus is the one Enter presses.
bool OwnsEnter(HWND focus) {
  if (!focus) return false;
  wchar_t name[32] = {};
  GetClassNameW(focus, name, 32);
  if (lstrcmpiW(name, L"Edit") == 0) return true;
  return lstrcmpiW(name, L"Button") == 0 && GetDlgCtrlID(focus) != ControlId("btnGo");
}
}  // namespace

bool TForm1::PreTranslate(MSG& msg) {
  if (!form_ || closing_ || rendering_) return false;
  HWND root = GetAncestor(msg.hwnd, GA_ROOT);
  if (root != form_ && root != page_) return false;
  if (msg.message == WM_KEYDOWN) {
    // Keys of the main window only (not of the page or a dialog); what the station does not
    // take goes on to the control with the focus.
    if (msg.wParam == VK_NEXT && root == form_) {
      CommitEdits();
      if (presenter().FormKeyDown(kVkPageDown)) {
        Render(presenter().View());
        return true;
      }
      return false;
    }
    // Go is the default button: Enter presses it, unless an entry or another button has the
    // focus (Enter commits the entry, or is that button's).
    if (msg.wParam == VK_RETURN && root == form_ && !OwnsEnter(GetFocus())) {
      CommitEdits();
      if (presenter().FormKeyDown(kVkReturn)) {
        Render(presenter().View());
        return true;
      }
    }
    if (msg.wParam == 'E' && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_SHIFT) < 0) {
      Act([this] { presenter().ToggleEngineerView(); });
      return true;
    }
  }
  // Tab and the arrows between controls; Enter commits an entry.
  return IsDialogMessageW(root, &msg) != FALSE;
}

// --- drawing the state ----------------------------------------------------------------------

void TForm1::Render(const ViewState& state) {
  if (!form_) return;
  const bool outer = !rendering_;
  rendering_ = true;
  if (state.caption != caption_) {
    caption_ = state.caption;
    SetWindowTextW(form_, Wide(caption_).c_str());
  }
  bool captionsChanged = false;
  for (const auto& [name, c] : state.controls)
    if (Item* item = Find(name)) RenderControl(*item, c, captionsChanged);
  ApplyEnabled(state);
  if (const ControlState* bind = state.Find("gifBind"); bind && bind->visible != bindAnimating_) {
    // Set only when it changes: setting the timer again would restart its count.
    bindAnimating_ = bind->visible;
    if (bindAnimating_)
      SetTimer(form_, kBindTimer, 250, nullptr);
    else
      KillTimer(form_, kBindTimer);
  }
  OwnTexts();
  if (captionsChanged || !fitted_) FitToText();
  Layout(state);
  if (outer) rendering_ = false;
}

bool TForm1::Shows(const Item& item, const ControlState& c) {
  const ControlState& s = item.shown;
  return item.rendered && s.text == c.text && s.checked == c.checked &&
         s.itemIndex == c.itemIndex && s.value == c.value && s.minimum == c.minimum &&
         s.maximum == c.maximum && s.visible == c.visible && s.color == c.color &&
         s.items == c.items;
}

void TForm1::RenderControl(Item& item, const ControlState& c, bool& captionsChanged) {
  // The core repaints on every tick; each call to the system costs, under Wine dearly.
  if (Shows(item, c)) return;
  item.shown = c;
  item.rendered = true;
  HWND w = item.window;
  const std::wstring text = Wide(c.text);
  auto setText = [&](HWND target) {
    if (WindowText(target) == text) return;
    SetWindowTextW(target, text.c_str());
    captionsChanged = true;
  };
  switch (item.row.kind) {
    case ControlKind::Label:
      setText(w);
      if (item.row.elide) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND;
        tool.hwnd = form_;
        tool.uId = UINT_PTR(w);
        std::wstring whole = text;
        tool.lpszText = whole.data();
        SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, LPARAM(&tool));
      }
      if (item.colour != c.color) {
        item.colour = c.color;
        InvalidateRect(w, nullptr, TRUE);
      }
      break;
    case ControlKind::Button:
      setText(w);
      break;
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      setText(w);
      SendMessageW(w, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case ControlKind::Group:
      if (item.frame) setText(item.frame);
      break;
    case ControlKind::Edit:
    case ControlKind::HexEdit: {
      // Never overwrite what an operator is typing; the core hears of it when committed.
      const bool typing = GetFocus() == w && SendMessageW(w, EM_GETMODIFY, 0, 0);
      if (!typing && WindowText(w) != text) SetWindowTextW(w, text.c_str());
      if (item.colour != c.color) {
        item.colour = c.color;
        InvalidateRect(w, nullptr, TRUE);
      }
      break;
    }
    case ControlKind::ComboBox:
    case ControlKind::ImageComboBox:
      if (item.items != c.items) {
        item.items = c.items;
        SendMessageW(w, CB_RESETCONTENT, 0, 0);
        for (const std::string& entry : c.items)
          SendMessageW(w, CB_ADDSTRING, 0, LPARAM(Wide(entry).c_str()));
        captionsChanged = true;
      }
      if (SendMessageW(w, CB_GETCURSEL, 0, 0) != c.itemIndex)
        SendMessageW(w, CB_SETCURSEL, WPARAM(c.itemIndex), 0);
      break;
    case ControlKind::SpinBox: {
      SendMessageW(item.arrows, UDM_SETRANGE32, WPARAM(c.minimum), LPARAM(c.maximum));
      BOOL failed = FALSE;
      const int shown = int(SendMessageW(item.arrows, UDM_GETPOS32, 0, LPARAM(&failed)));
      if (failed || shown != c.value) SendMessageW(item.arrows, UDM_SETPOS32, 0, LPARAM(c.value));
      break;
    }
    case ControlKind::ProgressBar:
      SendMessageW(w, PBM_SETRANGE32, WPARAM(c.minimum), LPARAM(c.maximum));
      SendMessageW(w, PBM_SETPOS, WPARAM(c.value), 0);
      break;
    case ControlKind::Lamp:
      if (item.lit != c.checked) {
        item.lit = c.checked;
        InvalidateRect(w, nullptr, FALSE);
      }
      break;
    case ControlKind::TabPage: {
      // A tab shows its page by being chosen, not by the state.
      const auto at = std::find(tabPages_.begin(), tabPages_.end(), byName_.at(item.row.name));
      TCITEMW tab{};
      wchar_t current[128] = {};
      tab.mask = TCIF_TEXT;
      tab.pszText = current;
      tab.cchTextMax = 127;
      const WPARAM index = WPARAM(at - tabPages_.begin());
      SendMessageW(tabs_, TCM_GETITEMW, index, LPARAM(&tab));
      if (text != current) {
        std::wstring copy = text;
        tab.pszText = copy.data();
        SendMessageW(tabs_, TCM_SETITEMW, index, LPARAM(&tab));
        captionsChanged = true;
      }
      return;
    }
    case ControlKind::TabControl:
      if (c.visible != (IsWindowVisible(page_) != FALSE)) {
        if (c.visible) {
          pagePlaced_ = true;
          PlaceEngineeringPage();
          ShowWindow(page_, SW_SHOWNA);
        } else {
          ShowWindow(page_, SW_HIDE);
        }
      }
      return;
    default:
      break;
  }
  const bool visible = (GetWindowLongPtrW(w, GWL_STYLE) & WS_VISIBLE) != 0;
  if (visible != c.visible) {
    ShowWindow(w, c.visible ? SW_SHOWNA : SW_HIDE);
    if (item.arrows) ShowWindow(item.arrows, c.visible ? SW_SHOWNA : SW_HIDE);
  }
}

void TForm1::ApplyEnabled(const ViewState& state) {
  // A disabled group disables, and greys, everything in it, as in the other window.
  for (Item& item : items_) {
    if (item.row.kind == ControlKind::Form) continue;
    const ControlState* c = state.Find(item.row.name);
    bool on = c ? c->enabled : true;
    if (item.parent > 0) on = on && items_[size_t(item.parent)].enabled;
    if (item.enabled == on) continue;
    item.enabled = on;
    if (item.row.kind == ControlKind::TabPage) {
      // A page of a disabled tab keeps its place; its controls grey with it.
      EnableWindow(item.window, on);
      continue;
    }
    for (HWND w : {item.window, item.frame, item.arrows})
      if (w) EnableWindow(w, on);
  }
}

void TForm1::OwnTexts() {
  if (ownTextsLanguage_ == int(CurrentLanguage())) return;
  ownTextsLanguage_ = int(CurrentLanguage());
  SetWindowTextW(page_, Wide(Words(Say("Engineering"))).c_str());
  const auto at = std::find(tabPages_.begin(), tabPages_.end(), byName_.at("shtTrace"));
  std::wstring trace = Wide(Words(Say("HID trace")));
  TCITEMW tab{};
  tab.mask = TCIF_TEXT;
  tab.pszText = trace.data();
  SendMessageW(tabs_, TCM_SETITEMW, WPARAM(at - tabPages_.begin()), LPARAM(&tab));
  SetWindowTextW(Control("btnClearTrace"), Wide(Words(Say("Clear"))).c_str());
  fitted_ = false;
}

int TForm1::NeededWidth(const Item& item) const {
  const ControlKind kind = item.row.kind;
  const HFONT font = fonts_.Of(item.row.font);
  auto design = [&](const std::wstring& text, int extra) {
    return text.empty() ? 0 : Unscaled(TextPixels(item.window, font, text), dpi_) + extra;
  };
  switch (kind) {
    case ControlKind::Label:
      if (item.row.wordWrap || item.row.elide) return 0;
      return design(WindowText(item.window), 2);
    case ControlKind::Button:
      return design(WindowText(item.window), 16);
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      // The box and its gap before the text.
      return design(WindowText(item.window), 22);
    case ControlKind::ComboBox: {
      int widest = 0;
      for (const std::string& entry : item.items) widest = std::max(widest, design(Wide(entry), 0));
      // The text's margins and the arrow's button, with room to spare before it.
      return widest == 0 ? 0 : widest + 16 + GetSystemMetrics(SM_CXVSCROLL) * 96 / dpi_;
    }
    default:
      return 0;
  }
}

void TForm1::FitToText() {
  fitted_ = true;
  for (Item& item : items_) {
    const ControlKind kind = item.row.kind;
    if (kind != ControlKind::Label && kind != ControlKind::Button &&
        kind != ControlKind::CheckBox && kind != ControlKind::RadioButton &&
        kind != ControlKind::ComboBox)
      continue;
    const int width = std::max(item.designWidth, NeededWidth(item));
    if (width != item.width) {
      item.width = width;
      Place(item);
    }
  }
  // Reset follows the yield line, however long a busy day makes it.
  Item& yield = *Find("lblYield");
  Item& reset = *Find("btnYieldReset");
  const int resetX = yield.x + yield.width + 4;
  if (reset.x != resetX) {
    reset.x = resetX;
    Place(reset);
  }
  // Then each group holds what grew inside it, the innermost first. Rows come parent first,
  // so walking them backwards meets every child before its group.
  for (size_t i = items_.size(); i-- > 1;) {
    Item& group = items_[i];
    if (group.row.kind != ControlKind::Group || group.parent == 0) continue;
    int width = group.designWidth;
    for (const Item& child : items_)
      if (child.parent == int(i) && child.width > child.designWidth)
        width = std::max(width, child.x + child.width + 8);
    if (width != group.width) {
      group.width = width;
      Place(group);
    }
  }
}

void TForm1::Layout(const ViewState& state) {
  Item& form = items_[0];
  if (form.width != state.width || form.height != state.height) {
    form.width = state.width;
    form.height = state.height;
    Place(form);
  }
  auto top = [&](const char* name) {
    const ControlState* c = state.Find(name);
    return c ? c->top : 0;
  };
  auto height = [&](const char* name) {
    const ControlState* c = state.Find(name);
    return c ? c->height : 0;
  };
  auto move = [&](const char* name, int x, int y, int w, int h) {
    Item& item = *Find(name);
    if (item.x == x && item.y == y && item.width == w && item.height == h) return;
    item.x = x;
    item.y = y;
    item.width = w;
    item.height = h;
    Place(item);
  };
  // The panel groups stack between the settings and the Go group while shown.
  int y = kWindowSettingsEnd;
  for (const char* name : {"gb1", "gbRX", "gbTX"}) {
    move(name, 4, y, 892, height(name));
    const ControlState* c = state.Find(name);
    if (c && c->visible) y += height(name);
  }
  const int goTop = top("gbGo");
  move("gbGo", 4, goTop, 892, height("gbGo"));
  move("pbSetTX", 0, top("pbSetTX"), state.width, height("pbSetTX"));
  // The settings group takes what room the computed height leaves.
  const int panels = y - kWindowSettingsEnd;
  move("gbSetting", 4, kWindowTopStrip, 892, std::max(goTop - panels - kWindowTopStrip - 2, 100));
}

void TForm1::PlaceEngineeringPage() {
  // As large as the fullest tab, with the result strip below it.
  int contentW = 0, contentH = 0;
  for (size_t page : tabPages_)
    for (const Item& child : items_)
      if (child.parent == int(page) && (GetWindowLongPtrW(child.window, GWL_STYLE) & WS_VISIBLE)) {
        contentW = std::max(contentW, child.x + child.width);
        contentH = std::max(contentH, child.y + child.height);
      }
  constexpr int kMargin = 6, kResultStrip = 24;
  RECT tabArea{0, 0, Scaled(contentW + kMargin, dpi_), Scaled(contentH + kMargin, dpi_)};
  SendMessageW(tabs_, TCM_ADJUSTRECT, TRUE, LPARAM(&tabArea));
  const int tabW = tabArea.right - tabArea.left, tabH = tabArea.bottom - tabArea.top;
  SetWindowPos(tabs_, HWND_BOTTOM, 0, 0, tabW, tabH, SWP_NOACTIVATE);
  RECT display{0, 0, tabW, tabH};
  SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, LPARAM(&display));
  for (size_t page : tabPages_)
    SetWindowPos(items_[page].window, HWND_TOP, display.left, display.top,
                 display.right - display.left, display.bottom - display.top, SWP_NOACTIVATE);
  const int clientH = tabH + Scaled(kResultStrip, dpi_);
  Item& result = *Find("lblEngResult");
  result.x = 10;
  result.y = Unscaled(tabH, dpi_) + 2;
  result.width = Unscaled(tabW, dpi_) - 20;
  result.height = 20;
  Place(result);

  RECT frame{0, 0, tabW, clientH};
  AdjustWindowRectEx(&frame, DWORD(GetWindowLongPtrW(page_, GWL_STYLE)), FALSE,
                     DWORD(GetWindowLongPtrW(page_, GWL_EXSTYLE)));
  const int outerW = frame.right - frame.left, outerH = frame.bottom - frame.top;
  // Right of the main window, else left of it, else over it; always whole on its screen.
  RECT main{};
  GetWindowRect(form_, &main);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(form_, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;
  const ScreenPoint at =
      PlaceBeside({main.left, main.top, main.right - main.left, main.bottom - main.top}, outerW,
                  outerH, {work.left, work.top, work.right - work.left, work.bottom - work.top});
  SetWindowPos(page_, nullptr, at.x, at.y, outerW, outerH, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm1::DpiChanged(int dpi, const RECT* suggested) {
  dpi_ = dpi;
  ApplyFonts();
  if (suggested)
    SetWindowPos(form_, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  PlaceAll();
  fitted_ = false;
  Render(presenter().View());
}

// --- the core's dialogs and start --------------------------------------------------------------

void TForm1::Start(const std::vector<std::string>& args) {
  presenter().FormCreate(args);
  const ViewState& v = presenter().View();
  SetWindowPos(form_, nullptr, v.left, v.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm1::Show(int command) {
  ShowWindow(form_, command);
  UpdateWindow(form_);
  presenter().FormActivate();
  // After the window has been drawn.
  if (!pending_.Empty()) PostMessageW(form_, kShowPending, 0, 0);
}

DialogLook TForm1::Look() const {
  return {form_, fonts_.Of(FontSize::Normal), dpi_};
}

void TForm1::ShowMessage(const std::string& dialog, const std::string& caption,
                         const std::string& text) {
  if (MessageHook) return MessageHook(dialog, caption, text);
  if (!pending_.Hold(IsWindowVisible(form_), {dialog, caption, text}))
    ExecMessage(dialog, caption, text);
}

void TForm1::ShowPendingMessages() {
  pending_.ShowAll(
      [this] { return form_ && IsWindowVisible(form_) && !closing_; },
      [this](const PendingMessages::Message& m) { ExecMessage(m.dialog, m.caption, m.text); });
}

void TForm1::ExecMessage(const std::string& dialog, const std::string& caption,
                         const std::string& text) {
  MessageDialog(Look(), dialog, Wide(caption.empty() ? caption_ : caption), Wide(text),
                Wide(Words(Say("OK"))));
}

bool TForm1::AskYesNo(const std::string& caption, const std::string& text) {
  if (QuestionHook) return QuestionHook(caption, text);
  // In the operator's language, whatever the system's.
  return QuestionDialog(Look(), Wide(caption.empty() ? caption_ : caption), Wide(text),
                        Wide(Words(Say("Yes"))), Wide(Words(Say("No"))));
}

std::optional<std::string> TForm1::AskPassword() {
  if (PasswordHook) return PasswordHook();
  const std::optional<std::wstring> typed = PasswordDialog(Look());
  if (!typed) return std::nullopt;
  return Narrow(*typed);
}

int TForm1::AskLanguage(int preselected) {
  if (LanguageHook) return LanguageHook(preselected);
  // The core's caption: the window shows it only from the first paint after FormCreate.
  DialogLook look = Look();
  look.owner = nullptr;  // the main window is not on screen yet
  return LanguageDialog(look, Wide(presenter().View().caption), preselected);
}

int TForm1::ScreenWidth() {
  return GetSystemMetrics(SM_CXSCREEN);
}

int TForm1::ScreenHeight() {
  return GetSystemMetrics(SM_CYSCREEN);
}

}  // namespace korvel::win32
