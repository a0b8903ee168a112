// The demo program driven from outside as an operator drives it: first start in an empty
// folder, two units by Go and by PageDown, the engineer's unlock and page, the close; and the
// loader that learns the result from its window's title. Each step waits for what the window
// shows and, when it does not come, says which step and what the window showed instead.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>

#include "Driver.h"
#include "localization/Lang.h"
#include "presenter/StationPresenter.h"
#include "production/ProductionRecord.h"
#include "ui/WindowLayout.h"
#include "ui/win32/WindowIds.h"

namespace korvel::e2e {
namespace {

std::string g_program;  // --program=PATH: the demo's .exe
std::wstring g_shots;   // --shots=FOLDER: pictures of the windows at some steps, for a person

constexpr const wchar_t* kEmulatorClass = L"KorvelRfEmulator";
constexpr int kEmuRxPlugged = 2001;
constexpr int kEmuTxPowered = 2002;
constexpr int kEmuBindMode = 2005;
constexpr int kEmuStatus = 2007;
constexpr const wchar_t* kLanguageKey = L"Software\\KORVEL\\RF_BIND";
constexpr const wchar_t* kLanguageValue = L"LngSection";
constexpr const char* kLoaderTitle = "KRVRF MFP Loader";
// What this driver leaves when the program under test starts it as its programming tool.
constexpr const char* kMapxMark = "programming-tool-started.txt";

// How long a step may take under Wine on a loaded machine: generous, as only a hang or a
// wrong outcome should fail a step.
constexpr int kStartMs = 60000;
constexpr int kDetectMs = 30000;
constexpr int kRunMs = 60000;
constexpr int kDialogMs = 15000;
constexpr int kExitMs = 20000;

std::string Quote(const std::string& text) {
  return "\"" + text + "\"";
}

// The program under test, its windows and its folder.
class Station {
 public:
  Station() : folder_(L"korvel-e2e-") {}

  ::testing::AssertionResult Start(const std::vector<std::wstring>& args) {
    if (g_program.empty()) return ::testing::AssertionFailure() << "no --program=PATH given";
    if (folder_.Path().empty())
      return ::testing::AssertionFailure() << "cannot make a temporary folder";
    std::string error;
    if (!program_.Start(WindowsPath(g_program), folder_.Path(), args, error))
      return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess();
  }

  DWORD Pid() const { return program_.Id(); }
  Program& Process() { return program_; }
  const TempFolder& Folder() const { return folder_; }

  HWND Form() const { return TopWindow(program_.Id(), win32::kFormClass); }
  HWND Panel() const { return TopWindow(program_.Id(), kEmulatorClass); }
  HWND Page() const { return TopWindow(program_.Id(), win32::kPageClass); }
  HWND Find(const char* name) const {
    const int id = win32::ControlId(name);
    if (HWND c = Control(Form(), id)) return c;
    return Control(TopWindow(program_.Id(), win32::kPageClass, false), id);
  }
  std::string TextOf(const char* name) const { return Text(Find(name)); }
  bool Enabled(const char* name) const {
    HWND c = Find(name);
    return c && IsWindowEnabled(c);
  }
  HWND PanelItem(int id) const { return Control(Panel(), id); }
  std::string EmulatorStatus() const { return Text(PanelItem(kEmuStatus)); }

  void Click(const char* name) const { PostCommand(Form(), win32::ControlId(name), 0, Find(name)); }
  void SetPanel(int id, bool on) const { PostCheck(Panel(), PanelItem(id), on); }

  // Pictures of the windows for a person to look at (with --shots only).
  void Shot(const std::string& name) const {
    if (g_shots.empty()) return;
    const std::pair<HWND, const char*> windows[] = {
        {Form(), ""}, {Panel(), "-emulator"}, {Page(), "-engineering"}};
    for (const auto& [window, suffix] : windows)
      if (window) SaveWindowBitmap(window, g_shots + L"\\" + Wide(name + suffix) + L".bmp");
  }

  // What the window shows now, for a failed step's message.
  std::string Seen() const {
    std::string seen;
    if (!program_.Running()) seen += "\n  the program is not running";
    HWND form = Form();
    if (!form) {
      seen += "\n  no main window";
    } else {
      seen += "\n  title " + Quote(Text(form));
      for (const char* name :
           {"edtRX", "edtTX", "btnGo", "lblResult", "lblReason", "edtCaliTime", "lblYield"}) {
        bool busy = false;
        const std::string text = Text(Find(name), &busy);
        seen += "\n  " + std::string(name) + " " + (busy ? "(busy)" : Quote(text));
      }
      seen += std::string("\n  btnGo ") + (Enabled("btnGo") ? "enabled" : "disabled");
    }
    if (Panel()) seen += "\n  emulator " + Quote(EmulatorStatus());
    return seen + DescribeDialogs(program_.Id());
  }

  // Waits for `done`; fails early when a dialog opens unasked or the program ends.
  ::testing::AssertionResult Step(const std::string& step, int timeoutMs,
                                  const std::function<bool()>& done,
                                  bool dialogsExpected = false) const {
    std::string stopped;
    const bool ok = WaitUntil(
        [&] {
          if (done()) return true;
          if (!program_.Running()) stopped = "the program ended";
          if (!dialogsExpected && !Dialogs(program_.Id()).empty()) stopped = "a dialog opened";
          // What ended the wait may have brought the step about (an exit, a closed dialog).
          if (!stopped.empty() && done()) {
            stopped.clear();
            return true;
          }
          return !stopped.empty();
        },
        timeoutMs);
    if (ok && stopped.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "step \"" << step << "\": "
           << (stopped.empty() ? "not done within " + std::to_string(timeoutMs) + " ms" : stopped)
           << "; the window shows:" << Seen();
  }

  std::optional<DialogSeen> WaitDialog(const std::string& name, int timeoutMs) const {
    std::optional<DialogSeen> found;
    WaitUntil(
        [&] {
          for (const DialogSeen& d : Dialogs(program_.Id()))
            if (d.name == name) found = d;
          return found.has_value() || !program_.Running();
        },
        timeoutMs);
    return found;
  }

  ::testing::AssertionResult DialogGone(HWND dialog, const std::string& step) const {
    return Step(
        step, kDialogMs, [dialog] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, true);
  }

  // The units the program wrote in its production record, oldest first.
  std::vector<RecordRow> Units() const {
    ProductionRecord record;
    const std::filesystem::path db = std::filesystem::path(folder_.Path()) / kRecordFileName;
    if (!record.OpenToRead(db)) return {};
    const auto rows = record.Rows("");
    return rows ? *rows : std::vector<RecordRow>();
  }

  ::testing::AssertionResult Ready(const std::string& step) const {
    return Step(step, kDetectMs, [this] {
      return TextOf("edtRX") == "Mouse RX Ready" && TextOf("edtTX") == "Mouse TX Ready" &&
             Enabled("btnGo");
    });
  }

  // Go from the time it is asked until the window shows the result; PASS or a failure.
  ::testing::AssertionResult Pass(const std::string& step, ULONGLONG& wallMs) const {
    const ULONGLONG start = GetTickCount64();
    std::string result;
    const ::testing::AssertionResult shown = Step(step, kRunMs, [&] {
      result = TextOf("lblResult");
      return result == "PASS" || result == "FAIL";
    });
    wallMs = GetTickCount64() - start;
    if (!shown) return shown;
    if (result != "PASS")
      return ::testing::AssertionFailure() << "step \"" << step << "\": the unit failed:" << Seen();
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult CloseAndWait(const std::string& step) {
    HWND form = Form();
    if (!form) return ::testing::AssertionFailure() << "step \"" << step << "\": no main window";
    PostMessageW(form, WM_CLOSE, 0, 0);
    DWORD code = 0;
    const ::testing::AssertionResult ended =
        Step(step, kExitMs, [this] { return !program_.Running(); });
    if (!ended) return ended;
    program_.WaitForExit(0, code);
    if (code != 0)
      return ::testing::AssertionFailure() << "step \"" << step << "\": exit code " << code;
    return ::testing::AssertionSuccess();
  }

 private:
  TempFolder folder_;  // outlives the program, which has its files open
  Program program_;
};

// The run time as the window shows it: seconds, a dot, milliseconds.
std::optional<double> RunSeconds(const std::string& text) {
  static const std::regex shape("^[0-9]+\\.[0-9]{1,3}$");
  if (!std::regex_match(text, shape)) return std::nullopt;
  const size_t dot = text.find('.');
  return std::stod(text.substr(0, dot)) + std::stod(text.substr(dot + 1)) / 1000.0;
}

// One operator's shift, in the order it happens; each test takes it one stage on. A test run
// on its own, or after a later stage, first takes the stages before it.
enum class Stage {
  None,
  Started,
  LanguageChosen,
  Ready,
  Connected,
  FirstPass,
  NextUnit,
  SecondPass,
  Unlocked,
  EngineeringShown,
  Closed
};

class Shift {
 public:
  static Shift& Get() {
    static Shift shift;
    return shift;
  }
  static void End() {
    Get().station_.reset();
    Get().loader_.reset();
  }

  // Takes every stage before `stage`; false when one failed, now or in an earlier test. A
  // stage already passed (tests in another order) starts a new shift in a new folder.
  ::testing::AssertionResult Before(Stage stage) {
    if (reached_ >= stage) {
      End();
      reached_ = Stage::None;
      failed_ = false;
    }
    while (reached_ < Stage(int(stage) - 1)) {
      if (failed_) return ::testing::AssertionFailure() << "an earlier stage failed";
      if (::testing::AssertionResult r = Take(Stage(int(reached_) + 1)); !r) return r;
    }
    if (failed_) return ::testing::AssertionFailure() << "an earlier stage failed";
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult Take(Stage stage) {
    ::testing::AssertionResult r = Run(stage);
    if (r)
      reached_ = stage;
    else
      failed_ = true;
    return r;
  }

 private:
  ::testing::AssertionResult Run(Stage stage) {
    switch (stage) {
      case Stage::Started:
        return Started();
      case Stage::LanguageChosen:
        return LanguageChosen();
      case Stage::Ready:
        return Ready();
      case Stage::Connected:
        return Connected();
      case Stage::FirstPass:
        return FirstPass();
      case Stage::NextUnit:
        return NextUnit();
      case Stage::SecondPass:
        return SecondPass();
      case Stage::Unlocked:
        return Unlocked();
      case Stage::EngineeringShown:
        return EngineeringShown();
      case Stage::Closed:
        return Closed();
      case Stage::None:
        break;
    }
    return ::testing::AssertionFailure() << "no such stage";
  }

  Station& s() { return *station_; }

  ::testing::AssertionResult Started() {
    // The first start on this PC: no saved language.
    if (!DeleteUserValue(kLanguageKey, kLanguageValue))
      return ::testing::AssertionFailure() << "cannot remove the saved language";
    loader_ = std::make_unique<LoaderWindow>(Wide(kLoaderTitle));
    if (!loader_->Created())
      return ::testing::AssertionFailure() << "cannot make a loader's window";
    station_ = std::make_unique<Station>();
    if (!s().Folder().Files().empty())
      return ::testing::AssertionFailure() << "the temporary folder is not empty";
    return s().Start({});
  }

  ::testing::AssertionResult LanguageChosen() {
    const std::optional<DialogSeen> dialog = s().WaitDialog("Form2", kStartMs);
    if (!dialog)
      return ::testing::AssertionFailure()
             << "no language dialog within " << kStartMs << " ms:" << s().Seen();
    HWND list = Control(dialog->window, win32::kDialogLanguageId);
    if (ComboCount(list) != 3)
      return ::testing::AssertionFailure()
             << "the language list holds " << ComboCount(list) << " items, not 3";
    PostChoose(dialog->window, list, int(lkCht));
    PostCommand(dialog->window, IDOK, BN_CLICKED, Control(dialog->window, IDOK));
    if (auto r = s().DialogGone(dialog->window, "close the language dialog"); !r) return r;
    if (auto r = s().Step("main window shown", kStartMs, [this] { return s().Form() != nullptr; });
        !r)
      return r;
    const std::string title = Text(s().Form());
    const std::string caption = std::string(kFormCaption) + " For B-Nova Only TempID=";
    if (title.rfind(caption, 0) != 0)
      return ::testing::AssertionFailure()
             << "title " << Quote(title) << ", expected " << Quote(caption + "N");
    // The window speaks the chosen language, and the choice is kept for the next start.
    const std::string go = *korvel::TextOf(39, lkCht);
    if (auto r = s().Step("Go in Traditional Chinese", kDialogMs,
                          [&] { return s().TextOf("btnGo") == go; });
        !r)
      return r << " (expected " << Quote(go) << ")";
    s().Shot("language-chosen");
    const std::string saved = UserString(kLanguageKey, kLanguageValue);
    if (saved != "lkCht") return ::testing::AssertionFailure() << "saved language " << Quote(saved);
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult Ready() {
    if (auto r =
            s().Step("emulator panel shown", kStartMs, [this] { return s().Panel() != nullptr; });
        !r)
      return r;
    if (Text(s().Panel()) != "Emulated dongle and mouse")
      return ::testing::AssertionFailure() << "emulator panel titled " << Quote(Text(s().Panel()));
    // The operator plugs the dongle and powers the mouse when the demo did not.
    startedPlugged_ = Checked(s().PanelItem(kEmuRxPlugged));
    startedPowered_ = Checked(s().PanelItem(kEmuTxPowered));
    if (!startedPlugged_) s().SetPanel(kEmuRxPlugged, true);
    if (!startedPowered_) s().SetPanel(kEmuTxPowered, true);
    std::printf("demo starts with the RX %s and the TX %s\n",
                startedPlugged_ ? "plugged" : "unplugged",
                startedPowered_ ? "powered" : "unpowered");
    if (auto r = s().Ready("both sides ready"); !r) return r;
    if (s().EmulatorStatus().rfind("Link: up", 0) != 0)
      return ::testing::AssertionFailure() << "emulator status " << Quote(s().EmulatorStatus());
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult Connected() {
    // A mouse not yet bound to this dongle: held in bind mode, then Connect.
    const std::string before = s().EmulatorStatus();
    s().SetPanel(kEmuBindMode, true);
    if (auto r = s().Step("bind mode on", kDialogMs,
                          [this] { return Checked(s().PanelItem(kEmuBindMode)); });
        !r)
      return r;
    s().Click("btnCombo_Cmd_Soft_Bind_SW");
    const std::optional<DialogSeen> bound = s().WaitDialog("dlgBind", kDetectMs);
    if (!bound) return ::testing::AssertionFailure() << "no bind result:" << s().Seen();
    const std::string success = *korvel::TextOf(5, lkCht);
    if (bound->text != success)
      return ::testing::AssertionFailure()
             << "bind said " << Quote(bound->text) << ", expected " << Quote(success);
    PostCommand(bound->window, IDOK, BN_CLICKED, Control(bound->window, IDOK));
    if (auto r = s().DialogGone(bound->window, "close the bind message"); !r) return r;
    s().SetPanel(kEmuBindMode, false);
    if (auto r = s().Ready("ready after the bind"); !r) return r;
    // Both sides took a new address: the link runs on it.
    const std::string after = s().EmulatorStatus();
    if (after.rfind("Link: up", 0) != 0 || after == before)
      return ::testing::AssertionFailure()
             << "emulator before " << Quote(before) << ", after " << Quote(after);
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult FirstPass() {
    s().Click("btnGo");
    ULONGLONG wall = 0;
    if (auto r = s().Pass("Go by the button", wall); !r) return r;
    s().Shot("first-pass");
    return Unit(1, wall, "button");
  }

  // What a passed unit leaves: its time, the released RX, its row in the record.
  ::testing::AssertionResult Unit(size_t count, ULONGLONG wallMs, const char* how) {
    const std::string shown = s().TextOf("edtCaliTime");
    const std::optional<double> seconds = RunSeconds(shown);
    if (!seconds || *seconds <= 0)
      return ::testing::AssertionFailure() << "run time " << Quote(shown);
    // Go leaves the station waiting for the next unit.
    if (auto r = s().Step("RX released after Go", kDialogMs,
                          [this] {
                            return s().TextOf("edtRX") == "Mouse RX Not Ready" &&
                                   !s().Enabled("btnGo");
                          });
        !r)
      return r;
    // Started by an operator (no parameter), the tool leaves a loader's window alone; the
    // release above comes after the hand-off would have.
    if (loader_->Title() != kLoaderTitle)
      return ::testing::AssertionFailure()
             << "the loader's window was retitled " << Quote(loader_->Title())
             << " though no loader started the tool";
    const std::vector<RecordRow> units = s().Units();
    if (units.size() != count || units.back().result != "PASS" || units.back().ms <= 0)
      return ::testing::AssertionFailure()
             << units.size() << " units in the record, expected " << count
             << (units.empty() ? ""
                               : "; the last " + units.back().result +
                                     " ms=" + std::to_string(units.back().ms));
    // The window writes the milliseconds unpadded ("2.45" is 2045 ms).
    std::printf(
        "figure: unit %zu by %s: edtCaliTime \"%s\" = %.0f ms, record %lld ms, driver wall %llu "
        "ms\n",
        count, how, shown.c_str(), *seconds * 1000, static_cast<long long>(units.back().ms),
        static_cast<unsigned long long>(wallMs));
    std::fflush(stdout);
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult NextUnit() {
    // The operator takes the bound pair off and puts the next one on.
    s().SetPanel(kEmuRxPlugged, false);
    if (auto r = s().Step("link down without the dongle", kDialogMs,
                          [this] { return s().EmulatorStatus().rfind("Link: down", 0) == 0; });
        !r)
      return r;
    s().SetPanel(kEmuTxPowered, false);
    s().SetPanel(kEmuTxPowered, true);
    s().SetPanel(kEmuRxPlugged, true);
    if (auto r = s().Ready("next unit ready"); !r) return r;
    // The last unit's result goes when the next one comes.
    return s().Step("last result cleared", kDialogMs, [this] {
      return s().TextOf("lblResult").empty() && s().TextOf("edtCaliTime").empty();
    });
  }

  ::testing::AssertionResult SecondPass() {
    HWND go = s().Find("btnGo");
    PostMessageW(go, WM_KEYDOWN, VK_NEXT, 1);
    PostMessageW(go, WM_KEYUP, VK_NEXT, 0xC0000001);
    ULONGLONG wall = 0;
    if (auto r = s().Pass("Go by PageDown", wall); !r) return r;
    if (auto r = Unit(2, wall, "PageDown"); !r) return r;
    // Each unit has its own numbers.
    const std::vector<RecordRow> units = s().Units();
    if (!units[1].numbers.txId.empty() && units[1].numbers.txId == units[0].numbers.txId)
      return ::testing::AssertionFailure() << "both units got link ID " << units[0].numbers.txId;
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult AskPassword(const std::string& phrase) {
    for (int i = 0; i < 5; ++i)
      PostCommand(s().Form(), win32::ControlId("imgLogo"), STN_DBLCLK, s().Find("imgLogo"));
    const std::optional<DialogSeen> ask = s().WaitDialog("dlgPass", kDialogMs);
    if (!ask) return ::testing::AssertionFailure() << "no pass phrase dialog:" << s().Seen();
    PostType(ask->window, Control(ask->window, win32::kDialogEditId), phrase);
    PostCommand(ask->window, IDOK, BN_CLICKED, Control(ask->window, IDOK));
    return s().DialogGone(ask->window, "close the pass phrase dialog");
  }

  ::testing::AssertionResult Unlocked() {
    // A setting the lock holds.
    const char* locked = "rbMouseOnly";
    if (!s().Find(locked) || s().Enabled(locked))
      return ::testing::AssertionFailure() << locked << " is not locked before the pass phrase";
    if (auto r = AskPassword("not the phrase"); !r) return r;
    if (s().Enabled(locked))
      return ::testing::AssertionFailure() << "a wrong pass phrase unlocked the settings";
    if (auto r = AskPassword(kPassPhrase); !r) return r;
    return s().Step("settings unlocked", kDialogMs, [&] { return s().Enabled(locked); });
  }

  ::testing::AssertionResult EngineeringShown() {
    if (s().Page())
      return ::testing::AssertionFailure() << "the engineering page is open before Ctrl+Shift+E";
    if (!PressChord(s().Form(), {VK_CONTROL, VK_SHIFT}, 'E'))
      return ::testing::AssertionFailure()
             << "cannot give the window Ctrl+Shift+E (foreground "
             << (GetForegroundWindow() == s().Form() ? "ours" : "elsewhere") << ")";
    if (auto r =
            s().Step("engineering page shown", kDialogMs, [this] { return s().Page() != nullptr; });
        !r)
      return r;
    HWND page = s().Page();
    if (GetWindow(page, GW_OWNER) != s().Form())
      return ::testing::AssertionFailure() << "the engineering page is not owned by the form";
    // Its tabs: one for each page of the layout.
    int pages = 0;
    for (const ControlLayout& row : MainWindowLayout()) pages += row.kind == ControlKind::TabPage;
    HWND tabs = Control(page, win32::ControlId("spgcntrl1"));
    DWORD_PTR count = 0;
    if (!tabs ||
        !SendMessageTimeoutW(tabs, TCM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 1000, &count) ||
        int(count) != pages)
      return ::testing::AssertionFailure() << "the engineering page shows " << count << " tabs of "
                                           << pages << (tabs ? "" : " (no tab control)");
    s().Shot("engineering");
    // The serial panel comes with it.
    HWND serials = s().Find("gbRX");
    if (!serials || !IsWindowVisible(serials))
      return ::testing::AssertionFailure() << "the serial panel is not shown";
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult Closed() {
    if (auto r = s().CloseAndWait("close the program"); !r) return r;
    // The station's files stay in its folder: the settings and the record of both units.
    for (const wchar_t* name : {L"TX.ini", L"production.db"})
      if (!s().Folder().Has(name))
        return ::testing::AssertionFailure() << Utf8(name) << " is not in the working folder";
    if (s().Units().size() != 2)
      return ::testing::AssertionFailure() << s().Units().size() << " units in the record";
    return ::testing::AssertionSuccess();
  }

  std::unique_ptr<Station> station_;
  std::unique_ptr<LoaderWindow> loader_;  // a loader's window the operator's tool must not touch
  Stage reached_ = Stage::None;
  bool failed_ = false;
  bool startedPlugged_ = false;
  bool startedPowered_ = false;
};

class OperatorShift : public ::testing::Test {
 protected:
  static void TearDownTestSuite() { Shift::End(); }
  void Take(Stage stage) {
    const ::testing::AssertionResult before = Shift::Get().Before(stage);
    if (!before) GTEST_SKIP() << before.message();
    EXPECT_TRUE(Shift::Get().Take(stage));
  }
};

TEST_F(OperatorShift, StartsInAnEmptyFolder) {
  Take(Stage::Started);
}
TEST_F(OperatorShift, AsksTheLanguageAtFirstStartAndKeepsIt) {
  Take(Stage::LanguageChosen);
}
TEST_F(OperatorShift, DetectsThePluggedDongleAndPoweredMouse) {
  Take(Stage::Ready);
}
TEST_F(OperatorShift, ConnectBindsAMouseInBindMode) {
  Take(Stage::Connected);
}
TEST_F(OperatorShift, GoByTheButtonPassesAndReleasesTheDongle) {
  Take(Stage::FirstPass);
}
TEST_F(OperatorShift, DetectsTheNextUnitAfterASwap) {
  Take(Stage::NextUnit);
}
TEST_F(OperatorShift, PageDownRunsGoOnTheNextUnit) {
  Take(Stage::SecondPass);
}
TEST_F(OperatorShift, OnlyThePassPhraseUnlocksTheSettings) {
  Take(Stage::Unlocked);
}
TEST_F(OperatorShift, CtrlShiftEOpensTheEngineeringPage) {
  Take(Stage::EngineeringShown);
}
TEST_F(OperatorShift, ClosingTheWindowEndsTheProgram) {
  Take(Stage::Closed);
}

// Started by the loader (any parameter), the tool runs Go by itself on a ready unit and
// retitles the loader's window to the result.
TEST(LoaderHandOff, TheLoaderTakesTheResultAsItsTitleAndTheProgrammingToolStarts) {
  ASSERT_TRUE(SetUserString(kLanguageKey, kLanguageValue, L"lkEng"));
  LoaderWindow loader(Wide(kLoaderTitle));
  ASSERT_TRUE(loader.Created());
  ASSERT_EQ(loader.Title(), kLoaderTitle);
  Station station;
  // The programming tool runs after a passed unit when its box is ticked: this driver stands
  // in for it (see main), and leaves a mark in the folder it was started in.
  const std::filesystem::path folder(station.Folder().Path());
  {
    std::ofstream ini(folder / "TX.ini", std::ios::binary);
    ini << "[TX]\r\nEnabledMAPX=1\r\n";
  }
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  ASSERT_TRUE(CopyFileW(self, (folder / kMapxProgram).c_str(), FALSE)) << GetLastError();
  ASSERT_TRUE(station.Start({L"LOADER"}));
  ASSERT_TRUE(station.Step("loader retitled", kStartMs + kRunMs,
                           [&] { return loader.Title() != kLoaderTitle; }))
      << "loader title " << Quote(loader.Title());
  EXPECT_EQ(loader.Title(), "PASS");
  EXPECT_EQ(station.TextOf("lblResult"), "PASS");
  const std::vector<RecordRow> units = station.Units();
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].result, "PASS");
  EXPECT_TRUE(station.Step("the programming tool started", kStartMs,
                           [&] { return std::filesystem::exists(folder / kMapxMark); }));
  EXPECT_TRUE(station.CloseAndWait("close after the loader's unit"));
}

}  // namespace
}  // namespace korvel::e2e

int main(int argc, char** argv) {
  // Started as the programming tool by the program under test: mark the folder and end.
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (std::filesystem::path(self).filename() == korvel::kMapxProgram) {
    std::ofstream(korvel::e2e::kMapxMark) << "started\n";
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--program=", 0) == 0) korvel::e2e::g_program = arg.substr(10);
    if (arg.rfind("--shots=", 0) == 0)
      korvel::e2e::g_shots = korvel::e2e::WindowsPath(arg.substr(8));
  }
  if (!korvel::e2e::LinkCjkFontUnderWine())
    std::printf("cannot link the CJK font: Chinese captions may show as boxes\n");
  return RUN_ALL_TESTS();
}
