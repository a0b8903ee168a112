// The Win32 window on the virtual host and the emulated bus, driven as the system drives it:
// clicks, double-clicks and keys go to the controls as messages, and what the operator reads
// is read back from the controls. Runs under Wine with a display.
#include <windows.h>
// After windows.h.
#include <commctrl.h>
#undef Yield

#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "EmulatedHid.h"
#include "EmulatedRx.h"
#include "TempDir.h"
#include "VirtualHost.h"
#include "localization/ShownTextCheck.h"
#include "ui/win32/Form1.h"
#include "ui/win32/Wide.h"
#include "ui/win32/WindowIds.h"

namespace korvel::win32 {
namespace {

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeForm();
    form->Start({});
    form->Show(SW_SHOWNORMAL);
    Pump();
  }
  void TearDown() override {
    form.reset();
    SetCurrentLanguage(lkEng);
  }
  void MakeForm() {
    form.reset();
    form = std::make_unique<TForm1>(StationEnvironment{.host = host,
                                                       .hid = platform,
                                                       .languageStore = store,
                                                       .workingDirectory = dir.path,
                                                       .randomSeed = 3});
    form->MessageHook = [this](const std::string& dialog, const std::string&,
                               const std::string& text) {
      messages.push_back(dialog + ":" + text);
    };
    form->PasswordHook = [this]() -> std::optional<std::string> { return password; };
  }
  // Runs what the system has queued for this thread, through the window's own keys first.
  void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (form && form->PreTranslate(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  HWND W(const std::string& name) {
    HWND w = form->Control(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  std::string Text(const std::string& name) { return Narrow(WindowText(W(name))); }
  bool Visible(const std::string& name) { return IsWindowVisible(W(name)) != FALSE; }
  bool Enabled(const std::string& name) { return IsWindowEnabled(W(name)) != FALSE; }
  bool Checked(const std::string& name) {
    return SendMessageW(W(name), BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  void Click(const std::string& name) {
    SendMessageW(W(name), BM_CLICK, 0, 0);
    Pump();
  }
  void DoubleClickLogo(int times) {
    for (int i = 0; i < times; ++i) {
      SendMessageW(W("imgLogo"), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
      Pump();
    }
  }
  // A key as the keyboard gives it to the control with the focus, modifiers held meanwhile.
  void Key(HWND to, WPARAM key, bool control = false, bool shift = false) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = control ? 0x80 : 0;
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageW(to, WM_KEYDOWN, key, 1);
    PostMessageW(to, WM_KEYUP, key, 0xC0000001);
    Pump();
    keys[VK_CONTROL] = keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
  }
  void Type(const std::string& name, const std::wstring& text) {
    HWND edit = W(name);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1);
    SetFocus(form->Handle());  // leaving the field commits it
    Pump();
  }
  void PlugDongleWithMouse() {
    tx->SetPowered(true, host.TickCount());
    rx->SetTx(tx);
    platform.Attach(rx);
    host.RunFor(5500);
    Pump();
  }
  void Unlock() {
    password = kPassPhrase;
    DoubleClickLogo(5);
  }
  SIZE ClientSize(HWND w) {
    RECT r{};
    GetClientRect(w, &r);
    return {r.right, r.bottom};
  }

  test::TempDir dir;
  VirtualHost host;
  EmulatedHidPlatform platform{host};
  MemoryLanguageStore store;
  std::unique_ptr<TForm1> form;
  std::vector<std::string> messages;
  std::optional<std::string> password;
  std::shared_ptr<EmulatedRx> rx = std::make_shared<EmulatedRx>(host);
  std::shared_ptr<EmulatedTx> tx = std::make_shared<EmulatedTx>();
};

TEST_F(Win32WindowTest, InitialStateOfEveryArea) {
  EXPECT_EQ(Narrow(WindowText(form->Handle())).rfind(std::string(kFormCaption), 0), 0u);
  const SIZE client = ClientSize(form->Handle());
  EXPECT_EQ(client.cx, MulDiv(900, form->Dpi(), 96));
  EXPECT_EQ(client.cy, MulDiv(480, form->Dpi(), 96));
  EXPECT_EQ(Text("btnGo"), "Go");
  EXPECT_FALSE(Enabled("btnGo"));
  EXPECT_EQ(Text("btnCombo_Cmd_Soft_Bind_SW"), "&Connect");
  EXPECT_EQ(Text("edtRX"), "Mouse RX Not Ready");
  EXPECT_EQ(Text("lblHotKey"), "Hotkey:PageDown");
  EXPECT_EQ(SendMessageW(W("ComboRFPower"), CB_GETCOUNT, 0, 0), 4);
  EXPECT_FALSE(Enabled("ComboRFPower"));
  EXPECT_TRUE(Checked("cbResetRF"));
  // The locked settings group greys everything in it.
  EXPECT_FALSE(Enabled("gbSetting"));
  EXPECT_FALSE(Enabled("rbRF_DR_45"));
  EXPECT_FALSE(Enabled("cbCustKey1"));
  EXPECT_TRUE(Checked("rbRF_DR_1A"));
  EXPECT_TRUE(Checked("rbRF_DR_45"));
  EXPECT_FALSE(Checked("rbRF_DR_4F"));
  EXPECT_EQ(SendMessageW(W("cbCustKey1"), CB_GETCOUNT, 0, 0), 24);
  EXPECT_EQ(SendMessageW(W("cbCustKey1"), CB_GETCURSEL, 0, 0), 7);
  EXPECT_EQ(SendMessageW(W("cbbLang"), CB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(SendMessageW(W("pbSetTX"), PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageW(W("pbSetTX"), PBM_GETRANGE, FALSE, 0), 20);
  EXPECT_EQ(Text("suiSpinEdit1"), "56");
  EXPECT_TRUE(Visible("imgNoneDev"));
  for (const char* hidden : {"imgCust", "imgConnected", "gifBind", "gbPO_BIND", "gb1", "gbRX",
                             "gbTX", "cbKeyboardbind", "edtRX_SN", "lstDebug"})
    EXPECT_FALSE(Visible(hidden)) << hidden;
  EXPECT_FALSE(IsWindowVisible(form->Page()));
}

TEST_F(Win32WindowTest, EveryControlOfTheCoreAndTheTableHasItsWindowAndID) {
  for (const auto& [name, state] : form->presenter().View().controls)
    EXPECT_NE(form->Control(name), nullptr) << name;
  for (const ControlLayout& row : MainWindowLayout()) {
    if (row.kind == ControlKind::Form || row.ownWindow) continue;
    HWND w = form->Control(row.name);
    ASSERT_NE(w, nullptr) << row.name;
    // A driver outside the program finds every control by the ID of its row.
    EXPECT_EQ(GetDlgCtrlID(w), ControlId(row.name)) << row.name;
  }
}

TEST_F(Win32WindowTest, ControlsStandWhereTheTableSaysAndGrowOnlyForTheirText) {
  // Moved by the window as the core's heights say, or by the page's layout.
  const std::vector<std::string> placed = {"gbSetting", "gb1",     "gbRX",         "gbTX",
                                           "gbGo",      "pbSetTX", "lblEngResult", "btnYieldReset"};
  for (const ControlLayout& row : MainWindowLayout()) {
    if (row.kind == ControlKind::Form || row.kind == ControlKind::TabControl ||
        row.kind == ControlKind::TabPage ||
        std::find(placed.begin(), placed.end(), row.name) != placed.end() ||
        row.parent == "gbSpecialCmd")
      continue;
    const RECT r = form->DesignRect(row.name);
    EXPECT_EQ(r.left, row.x) << row.name;
    EXPECT_EQ(r.top, row.y) << row.name;
    EXPECT_EQ(r.bottom - r.top, row.height) << row.name;
    EXPECT_GE(r.right - r.left, row.width) << row.name;
    // And the system window is there, at the window's DPI.
    HWND w = form->Control(row.name);
    RECT actual{};
    GetWindowRect(w, &actual);
    MapWindowPoints(nullptr, GetParent(w), reinterpret_cast<POINT*>(&actual), 2);
    const int dpi = form->Dpi();
    EXPECT_EQ(actual.left, MulDiv(r.left, dpi, 96)) << row.name;
    EXPECT_EQ(actual.top, MulDiv(r.top, dpi, 96)) << row.name;
  }
  // The progress bar is glued to the bottom, the Go group on it.
  RECT bar{}, go{}, client{};
  GetWindowRect(W("pbSetTX"), &bar);
  GetWindowRect(W("gbGo"), &go);
  GetClientRect(form->Handle(), &client);
  MapWindowPoints(nullptr, form->Handle(), reinterpret_cast<POINT*>(&bar), 2);
  MapWindowPoints(nullptr, form->Handle(), reinterpret_cast<POINT*>(&go), 2);
  EXPECT_EQ(bar.bottom, client.bottom);
  EXPECT_EQ(go.bottom, bar.top);
}

// Every caption narrower than its text in the control's own font, "name: text".
std::vector<std::string> ClippedCaptions(TForm1& form) {
  std::vector<std::string> clipped;
  for (const ControlLayout& row : MainWindowLayout()) {
    HWND w = form.Control(row.name);
    if (!w || !IsWindowVisible(w)) continue;
    const HFONT font = HFONT(SendMessageW(w, WM_GETFONT, 0, 0));
    std::vector<std::wstring> texts;
    int room = 0;
    RECT client{};
    GetClientRect(w, &client);
    switch (row.kind) {
      case ControlKind::Label:
        if (row.wordWrap || row.elide) continue;
        texts = {WindowText(w)};
        room = client.right;
        break;
      case ControlKind::Button:
        texts = {WindowText(w)};
        room = client.right - MulDiv(8, form.Dpi(), 96);
        break;
      case ControlKind::CheckBox:
      case ControlKind::RadioButton:
        texts = {WindowText(w)};
        room = client.right - MulDiv(16, form.Dpi(), 96);
        break;
      case ControlKind::ComboBox:
        for (LRESULT i = 0; i < SendMessageW(w, CB_GETCOUNT, 0, 0); ++i) {
          std::wstring item(size_t(SendMessageW(w, CB_GETLBTEXTLEN, WPARAM(i), 0)) + 1, L'\0');
          item.resize(size_t(SendMessageW(w, CB_GETLBTEXT, WPARAM(i), LPARAM(item.data()))));
          texts.push_back(item);
        }
        room = client.right - GetSystemMetrics(SM_CXVSCROLL) - 4;
        break;
      default:
        continue;
    }
    for (std::wstring text : texts) {
      // A mnemonic's ampersand is not drawn.
      if (const size_t amp = text.find(L'&'); amp != std::wstring::npos) text.erase(amp, 1);
      if (text.empty()) continue;
      const int needed = TextPixels(w, font, text);
      if (needed > room)
        clipped.push_back(row.name + ": " + Narrow(text) + " (" + std::to_string(needed) + " > " +
                          std::to_string(room) + ")");
    }
  }
  return clipped;
}

TEST_F(Win32WindowTest, NoCaptionIsNarrowerThanItsTextInAnyLanguage) {
  PlugDongleWithMouse();
  Unlock();
  Key(W("btnGo"), 'E', true, true);
  ASSERT_TRUE(Visible("gbRX"));
  ASSERT_TRUE(IsWindowVisible(form->Page()));
  for (int kind : {0, 1, 2}) {
    form->presenter().cbbLangChange(kind);
    form->Render(form->presenter().View());
    for (const std::string& clipped : ClippedCaptions(*form))
      ADD_FAILURE() << "language " << kind << ": " << clipped;
  }
}

TEST_F(Win32WindowTest, EachLanguageReachesEveryControlOfTheTable) {
  HWND lang = W("cbbLang");
  for (int kind : {1, 2, 0}) {
    SendMessageW(lang, CB_SETCURSEL, WPARAM(kind), 0);
    SendMessageW(form->Handle(), WM_COMMAND, MAKEWPARAM(ControlId("cbbLang"), CBN_SELCHANGE),
                 LPARAM(lang));
    EXPECT_EQ(store.value, LanguageValueName(TLanguateKind(kind)));
    std::map<std::string, TTerm> last;  // a control bound twice shows its last text
    for (const auto& [name, key] : TextBindings()) last[name] = key;
    for (const auto& [name, key] : last) {
      const std::string expected = *TextOf(key, TLanguateKind(kind));
      const ControlState& shown = form->presenter().View()[name];
      EXPECT_EQ(shown.text, expected) << name;
      HWND w = form->Control(name);
      ASSERT_NE(w, nullptr) << name;
      // A group's title is its frame's text, a tab's its item's; the rest show it themselves.
      if (GetWindowTextLengthW(w) > 0) {
        EXPECT_EQ(Narrow(WindowText(w)), expected) << name << " in " << kind;
      }
    }
  }
}

TEST_F(Win32WindowTest, FiveDoubleClicksAndThePassPhraseUnlockTheSettings) {
  password = "MeridonQx";
  DoubleClickLogo(5);
  EXPECT_FALSE(Enabled("gbSetting"));
  password = kPassPhrase;
  DoubleClickLogo(4);
  EXPECT_FALSE(Enabled("gbSetting"));
  DoubleClickLogo(1);
  EXPECT_TRUE(Enabled("gbSetting"));
  EXPECT_TRUE(Enabled("rbRF_DR_45"));  // and what is in it
  EXPECT_TRUE(Enabled("ComboRFPower"));
  EXPECT_TRUE(messages.empty());
  DoubleClickLogo(1);
  EXPECT_FALSE(Enabled("gbSetting"));
  EXPECT_FALSE(Enabled("rbRF_DR_45"));
  EXPECT_EQ(messages, std::vector<std::string>{":Locked"});
}

TEST_F(Win32WindowTest, ARadioButtonTurnsItsSetOffAndTheCoreHearsOfBoth) {
  Unlock();
  Click("rbRF_DR_4F");
  EXPECT_TRUE(Checked("rbRF_DR_4F"));
  EXPECT_FALSE(Checked("rbRF_DR_45"));
  EXPECT_TRUE(form->presenter().View()["rbRF_DR_4F"].checked);
  EXPECT_FALSE(form->presenter().View()["rbRF_DR_45"].checked);
  // Buttons of other sets keep theirs.
  EXPECT_TRUE(Checked("rbRF_DR_1A"));
  EXPECT_TRUE(Checked("rbRF_DR_25"));
  // As a driver does it: the new one checked first, then the click reported.
  SendMessageW(W("rbRF_DR_4A"), BM_SETCHECK, BST_CHECKED, 0);
  SendMessageW(form->Handle(), WM_COMMAND, MAKEWPARAM(ControlId("rbRF_DR_4A"), BN_CLICKED),
               LPARAM(W("rbRF_DR_4A")));
  EXPECT_FALSE(Checked("rbRF_DR_4F"));
  EXPECT_TRUE(form->presenter().View()["rbRF_DR_4A"].checked);
  EXPECT_FALSE(form->presenter().View()["rbRF_DR_4F"].checked);
}

TEST_F(Win32WindowTest, GoByButtonAndByPageDownWritesUnitAfterUnit) {
  PlugDongleWithMouse();
  EXPECT_EQ(Text("edtRX"), "Mouse RX Ready");
  EXPECT_EQ(Text("edtVID"), "1BCF");
  EXPECT_TRUE(Visible("imgConnected"));
  tx->SetBindMode(true);
  Click("btnCombo_Cmd_Soft_Bind_SW");
  EXPECT_EQ(Text("btnCombo_Cmd_Soft_Bind_SW"), "&Connecting");
  EXPECT_TRUE(Visible("gifBind"));
  host.RunFor(3000);
  Pump();
  ASSERT_EQ(messages, std::vector<std::string>{"dlgBind:Connect Success"});
  tx->SetBindMode(false);
  host.RunFor(1000);
  Pump();
  ASSERT_TRUE(Enabled("btnGo"));
  Click("btnGo");
  EXPECT_EQ(Text("lblResult"), "PASS");
  const std::string time = Text("edtCaliTime");
  EXPECT_TRUE(std::regex_match(time, std::regex("[0-9]+\\.[0-9]+"))) << time;
  EXPECT_EQ(SendMessageW(W("pbSetTX"), PBM_GETPOS, 0, 0), 20);
  EXPECT_FALSE(Enabled("btnGo"));  // released: waiting for the next unit

  rx->Unplug();
  host.RunFor(5500);
  rx->Plug();
  host.RunFor(5500);
  Pump();
  ASSERT_TRUE(Enabled("btnGo"));
  // PageDown from whatever control has the focus.
  Key(W("edtCaliTime"), VK_NEXT);
  EXPECT_EQ(form->station().Go().Requests(), 2);
  EXPECT_EQ(Text("lblResult"), "PASS");
}

// Go is the default button: Enter presses it, but an entry keeps its Enter to commit itself.
TEST_F(Win32WindowTest, EnterPressesGoUnlessAnEntryHasTheFocus) {
  form->presenter().View()["btnGo"].enabled = true;
  form->Render(form->presenter().View());
  SetFocus(W("btnGo"));
  Key(W("btnGo"), VK_RETURN);
  EXPECT_EQ(form->station().Go().Requests(), 1);
  Unlock();
  form->presenter().View()["btnGo"].enabled = true;
  form->Render(form->presenter().View());
  SetFocus(W("edtVID_SET"));
  Key(W("edtVID_SET"), VK_RETURN);
  EXPECT_EQ(form->station().Go().Requests(), 1);
}

TEST_F(Win32WindowTest, PageDownReachesTheFocusedSpinBoxWhileGoIsDisabled) {
  Unlock();
  ASSERT_FALSE(Enabled("btnGo"));
  HWND spin = W("suiSpinEdit1");
  SetFocus(spin);
  Key(spin, VK_NEXT);
  EXPECT_EQ(form->station().Go().Requests(), 0);
  form->presenter().View()["btnGo"].enabled = true;
  form->Render(form->presenter().View());
  Key(spin, VK_NEXT);
  EXPECT_EQ(form->station().Go().Requests(), 1);
}

TEST_F(Win32WindowTest, EngineersOpenThePanelsAndThePageBesideTheWindow) {
  PlugDongleWithMouse();
  Key(W("btnGo"), 'E', true, true);
  EXPECT_FALSE(Visible("gbRX"));  // locked: an operator's stray chord does nothing
  Unlock();
  Key(W("btnGo"), 'E', true, true);
  ASSERT_TRUE(Visible("gbRX"));
  ASSERT_TRUE(IsWindowVisible(form->Page()));
  // Whole on the main window's screen; right of the main window when there is room.
  RECT main{}, page{};
  GetWindowRect(form->Handle(), &main);
  GetWindowRect(form->Page(), &page);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(form->Handle(), MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;
  EXPECT_GE(page.left, work.left);
  EXPECT_LE(page.right, work.right);
  EXPECT_GE(page.top, work.top);
  EXPECT_LE(page.bottom, work.bottom);
  if (work.right - main.right >= page.right - page.left + 8) {
    EXPECT_GE(page.left, main.right);
  }
  // As large as its fullest tab: the last button of the RF tab is inside the page.
  RECT last{};
  GetWindowRect(W("btnRF_DR_3D"), &last);
  EXPECT_LE(last.right, page.right);
  EXPECT_LE(last.bottom, page.bottom);

  // A register read by the page's button, and the trace of what went to the dongle.
  SendMessageW(W("lstTrace"), LB_RESETCONTENT, 0, 0);
  rx->Registers()[2] = 0x56A9;
  Click("btnEEPROM_R_02");
  EXPECT_EQ(Text("edtEEPROM_02"), "56");
  EXPECT_GT(SendMessageW(W("lstTrace"), LB_GETCOUNT, 0, 0), 1);
  Click("btnClearTrace");
  EXPECT_EQ(SendMessageW(W("lstTrace"), LB_GETCOUNT, 0, 0), 0);

  // Closing the page leaves the engineering view.
  SendMessageW(form->Page(), WM_CLOSE, 0, 0);
  Pump();
  EXPECT_FALSE(IsWindowVisible(form->Page()));
  EXPECT_FALSE(Visible("gbRX"));
}

TEST_F(Win32WindowTest, AnEntryReachesTheCoreWhenLeftAndAWrongOneIsRefused) {
  Unlock();
  Key(W("btnGo"), 'E', true, true);
  Click("cbTX_IsSN");
  EXPECT_TRUE(form->station().Ledger().Gen().TxSN.IsSN());
  ASSERT_TRUE(Visible("edtTX_IncInitSN"));
  Type("edtTX_IncInitSN", L"00ab");
  EXPECT_EQ(form->station().Ledger().Gen().TxSN.IncInitSN(), 0xAB);
  EXPECT_EQ(Text("edtTX_IncInitSN"), "00AB");
  // The hex filter keeps what is not a digit out.
  Type("edtTX_IncInitSN", L"0x1g2");
  EXPECT_EQ(Text("edtTX_IncInitSN"), "0012");
  Type("edtTX_IncInitSN", L"123456");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(Text("edtTX_IncInitSN"), "0012");
}

TEST_F(Win32WindowTest, AFailedUnitShowsWhyInRed) {
  PlugDongleWithMouse();
  rx->InjectFault("no-link-after-reload");
  Click("btnGo");
  EXPECT_EQ(Text("lblResult"), "FAIL");
  EXPECT_TRUE(Visible("lblReason"));
  EXPECT_EQ(Text("lblReason"), "link not back after reload");
  // Whole under the mouse, however long.
  HWND tip = FindWindowW(TOOLTIPS_CLASSW, nullptr);
  ASSERT_NE(tip, nullptr);
  TTTOOLINFOW tool{};
  wchar_t whole[256] = {};
  tool.cbSize = sizeof tool;
  tool.hwnd = form->Handle();
  tool.uId = UINT_PTR(W("lblReason"));
  tool.lpszText = whole;
  SendMessageW(tip, TTM_GETTEXTW, 255, LPARAM(&tool));
  EXPECT_EQ(Narrow(whole), "link not back after reload");
  EXPECT_EQ(form->presenter().View()["lblResult"].color, "red");
}

// The dialogs of the window, as an operator meets them: looked at by a timer of the thread
// while the dialog's own loop runs, then closed.
HWND g_dialog = nullptr;
std::function<void(HWND)> g_look;
void CALLBACK LookAtDialog(HWND, UINT, UINT_PTR id, DWORD) {
  HWND dialog = FindWindowW(kDialogClass, nullptr);
  if (!dialog || !IsWindowVisible(dialog)) return;
  KillTimer(nullptr, id);
  g_dialog = dialog;
  g_look(dialog);
}

TEST_F(Win32WindowTest, DialogsOpenCentredOnTheWindowInTheOperatorsLanguage) {
  form->MessageHook = nullptr;
  form->PasswordHook = nullptr;
  form->QuestionHook = nullptr;
  RECT main{};
  GetWindowRect(form->Handle(), &main);
  auto centredOnMain = [&](HWND dialog) {
    RECT r{};
    GetWindowRect(dialog, &r);
    EXPECT_LE(std::abs((r.left + r.right) - (main.left + main.right)), 4);
    EXPECT_LE(std::abs((r.top + r.bottom) - (main.top + main.bottom)), 4);
  };
  auto name = [](HWND dialog) { return Narrow(WindowText(GetDlgItem(dialog, kDialogNameId))); };

  g_look = [&](HWND dialog) {
    EXPECT_EQ(name(dialog), "dlgError");
    EXPECT_EQ(Narrow(WindowText(GetDlgItem(dialog, kDialogTextId))), "text");
    EXPECT_FALSE(IsWindowEnabled(form->Handle()));  // modal
    centredOnMain(dialog);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  };
  g_dialog = nullptr;
  SetTimer(nullptr, 0, 20, LookAtDialog);
  form->ShowMessage("dlgError", "Message", "text");
  EXPECT_NE(g_dialog, nullptr);
  EXPECT_TRUE(IsWindowEnabled(form->Handle()));

  g_look = [&](HWND dialog) {
    EXPECT_EQ(name(dialog), "dlgPass");
    HWND edit = GetDlgItem(dialog, kDialogEditId);
    EXPECT_EQ(SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0), '*');
    SetWindowTextW(edit, L"abc");
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  };
  SetTimer(nullptr, 0, 20, LookAtDialog);
  EXPECT_EQ(form->AskPassword(), std::optional<std::string>("abc"));

  g_look = [&](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); };
  SetTimer(nullptr, 0, 20, LookAtDialog);
  EXPECT_EQ(form->AskPassword(), std::nullopt);

  // Yes and No in the operator's language; the close box answers No.
  form->presenter().cbbLangChange(1);
  g_look = [&](HWND dialog) {
    EXPECT_EQ(name(dialog), "dlgQuestion");
    EXPECT_EQ(Narrow(WindowText(GetDlgItem(dialog, IDYES))), Words(Say("Yes")));
    EXPECT_EQ(Narrow(WindowText(GetDlgItem(dialog, IDNO))), Words(Say("No")));
    EXPECT_NE(Words(Say("Yes")), "Yes");
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  };
  SetTimer(nullptr, 0, 20, LookAtDialog);
  EXPECT_FALSE(form->AskYesNo("", "Sure?"));
  g_look = [&](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDYES, 0); };
  SetTimer(nullptr, 0, 20, LookAtDialog);
  EXPECT_TRUE(form->AskYesNo("", "Sure?"));

  g_look = [&](HWND dialog) {
    EXPECT_EQ(name(dialog), "Form2");
    HWND list = GetDlgItem(dialog, kDialogLanguageId);
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 1);
    SendMessageW(list, CB_SETCURSEL, 2, 0);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  };
  SetTimer(nullptr, 0, 20, LookAtDialog);
  EXPECT_EQ(form->AskLanguage(1), 2);
}

TEST_F(Win32WindowTest, MessagesRaisedBeforeTheWindowIsShownWaitForItInOrder) {
  form.reset();
  MakeForm();
  std::vector<std::string> shown;
  form->MessageHook = nullptr;
  // Raised before the window is on screen: nothing opens yet.
  form->ShowMessage("dlgError", "", "first");
  form->ShowMessage("", "", "second");
  EXPECT_EQ(FindWindowW(kDialogClass, nullptr), nullptr);
  g_look = [&](HWND dialog) {
    shown.push_back(Narrow(WindowText(GetDlgItem(dialog, kDialogTextId))));
    EXPECT_TRUE(IsWindowVisible(form->Handle()));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    if (shown.size() < 2) SetTimer(nullptr, 0, 20, LookAtDialog);
  };
  SetTimer(nullptr, 0, 20, LookAtDialog);
  form->Show(SW_SHOWNORMAL);
  for (int i = 0; i < 200 && shown.size() < 2; ++i) {
    Pump();
    Sleep(10);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"first", "second"}));
}

}  // namespace
}  // namespace korvel::win32

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new korvel::test::EveryShownTextHasWords);
  return RUN_ALL_TESTS();
}
