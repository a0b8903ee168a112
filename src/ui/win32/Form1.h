// The main window on Win32: the layout table's controls as system controls, drawn from the
// core's view state, every operator action handed to the station. Like the other window it
// keeps no state of its own beyond what the system needs to draw.
#pragma once

#include <windows.h>
// The system's old Yield() macro would hide the station's Yield().
#undef Yield

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/Station.h"
#include "ui/PendingMessages.h"
#include "ui/WindowLayout.h"
#include "ui/win32/Controls.h"
#include "ui/win32/Dialogs.h"

namespace korvel::win32 {

class TForm1 final : public StationView {
 public:
  explicit TForm1(StationEnvironment env);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // FormCreate, then the window where the core placed it.
  void Start(const std::vector<std::string>& args);
  void Show(int command = SW_SHOWNORMAL);
  Station& station() { return *station_; }
  StationPresenter& presenter() { return station_->Presenter(); }
  HWND Handle() const { return form_; }
  // The engineering page's own window.
  HWND Page() const { return page_; }
  HWND Control(const std::string& name) const;
  // Where a control stands now in design pixels within its parent (after widening).
  RECT DesignRect(const std::string& name) const;
  int Dpi() const { return dpi_; }

  // The window's keys, before the control with the focus sees them: PageDown (FormKeyDown),
  // Ctrl+Shift+E, and moving between controls with Tab. True when taken.
  bool PreTranslate(MSG& msg);

  // StationView
  void Render(const ViewState& state) override;
  void ShowMessage(const std::string& dialog, const std::string& caption,
                   const std::string& text) override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  std::optional<std::string> AskPassword() override;
  int AskLanguage(int preselected) override;
  int ScreenWidth() override;
  int ScreenHeight() override;

  // Tests answer the dialogs instead of an operator; unset, the real dialogs are shown.
  std::function<void(const std::string& dialog, const std::string& caption,
                     const std::string& text)>
      MessageHook;
  std::function<bool(const std::string& caption, const std::string& text)> QuestionHook;
  std::function<std::optional<std::string>()> PasswordHook;
  std::function<int(int preselected)> LanguageHook;

 private:
  struct Item {
    ControlLayout row;
    int id = 0;
    int parent = -1;        // index of the parent item; -1 for the form
    HWND window = nullptr;  // the control; for a group, the container of its children
    HWND frame = nullptr;   // a group's drawn frame and title
    HWND arrows = nullptr;  // a spin box's up-down arrows
    int x = 0, y = 0, width = 0, height = 0;  // design pixels, as placed now
    int designWidth = 0;
    bool enabled = true;  // as last applied, with the parents' state
    bool lit = false;     // lamps
    std::string colour;   // labels and edits: the core's text colour
    std::vector<std::string> items;
    ControlState shown;  // what the control was last given
    bool rendered = false;
  };
  static bool Shows(const Item& item, const ControlState& c);

  static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static void RegisterClasses();

  void Build();
  void Create(Item& item);
  void ApplyFonts();
  void Place(const Item& item);
  void PlaceAll();
  Item* Find(const std::string& name);
  const Item* Find(const std::string& name) const;
  Item* ById(int id);

  void Command(int id, int code, HWND from);
  void Notify(const NMHDR& header);
  void DrawItem(const DRAWITEMSTRUCT& draw);
  LRESULT Colour(HDC dc, HWND control, bool edit);
  void Changed(Item& item);
  void RadioClicked(Item& item);
  void CommitEdits();
  void Act(const std::function<void()>& action);

  void RenderControl(Item& item, const ControlState& c, bool& captionsChanged);
  void ApplyEnabled(const ViewState& state);
  void FitToText();
  void WidenSpecialColumns();
  int NeededWidth(const Item& item) const;
  void OwnTexts();
  void Layout(const ViewState& state);
  void PlaceEngineeringPage();
  void ShowTab(int index);
  void ShowPendingMessages();
  void ExecMessage(const std::string& dialog, const std::string& caption, const std::string& text);
  void DpiChanged(int dpi, const RECT* suggested);
  DialogLook Look() const;

  std::unique_ptr<Station> station_;
  std::filesystem::path workingDirectory_;  // where logo.bmp is looked for
  HWND form_ = nullptr;
  HWND page_ = nullptr;  // the engineering page's window
  HWND tabs_ = nullptr;  // its tab control
  HWND tip_ = nullptr;   // the whole text of a line that ends in "..."
  std::vector<Item> items_;
  std::map<std::string, size_t> byName_;
  std::map<int, size_t> byId_;
  std::vector<size_t> tabPages_;  // items of the tab pages, in tab order
  Fonts fonts_;
  int dpi_ = 96;
  int bindFrame_ = 0;
  bool rendering_ = false;
  bool closing_ = false;
  bool destroying_ = false;
  bool fitted_ = false;
  bool pagePlaced_ = false;
  bool bindAnimating_ = false;
  int ownTextsLanguage_ = -1;
  std::string caption_;
  PendingMessages pending_;  // raised before the window was on screen
  HBITMAP customLogo_ = nullptr;
};

}  // namespace korvel::win32
