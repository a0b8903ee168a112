// The main window's controls as designed: one row a control, in creation order (a parent before
// its children, and siblings in the order they stack). Every window that shows the station draws
// from this table, so they all place the same control in the same place.
#pragma once

#include <string>
#include <vector>

namespace korvel {

enum class ControlKind {
  Form,           // the window itself, the table's root
  Group,          // a framed group with a title
  Label,          // text
  Picture,        // a picture that reports double-clicks
  Image,          // a picture, or nothing
  Button,         // a push button
  CheckBox,       //
  RadioButton,    //
  Edit,           // one line of text
  HexEdit,        // one line of hexadecimal digits
  ComboBox,       // a drop-down list of captions
  ImageComboBox,  // a drop-down list of pictures
  SpinBox,        // a number with up and down arrows
  ProgressBar,    //
  Lamp,           // an LED
  TabControl,     // pages behind tabs
  TabPage,        // one page of a TabControl; its caption is the tab's
  List,           // a list of lines
};

enum class FontSize {
  Normal,
  Small,  // 8 points
  Large,  // 18 points, bold
  Huge,   // 34 points, bold
  Fixed,  // the system's fixed-pitch font
};

enum class TextAlign { Default, Left, Centre, Right };

struct ControlLayout {
  std::string name;
  ControlKind kind = ControlKind::Label;
  std::string parent;  // empty for the form only
  int x = 0;           // within the parent
  int y = 0;
  int width = 0;
  int height = 0;
  std::string caption;  // what the control shows before the core's first paint (UTF-8)
  int maxLength = 0;    // edits; 0: no limit
  FontSize font = FontSize::Normal;
  TextAlign align = TextAlign::Default;
  bool wordWrap = false;   // labels
  bool elide = false;      // labels that end in "..." when longer than their place
  bool filterHex = true;   // hex edits: refuse what is not a hex digit
  bool shown = true;       // false: never shown to an operator
  bool ownWindow = false;  // a window of its own beside the main window
  bool readOnly = false;   // edits that only show what the core computed
  std::string radioGroup;  // radio buttons that exclude each other within a shared parent
};

// The window's top strip (logo, pictures, USB information, language) and where the panel groups
// below the settings start when shown.
inline constexpr int kWindowTopStrip = 72;
inline constexpr int kWindowSettingsEnd = 344;

// The engineering page's Special Command fields stand in columns of this design width from
// this x on; a window widens the columns to its widest name in the small font.
inline constexpr int kSpecialColumnsLeft = 126;
inline constexpr int kSpecialColumnWidth = 86;
inline constexpr int kSpecialColumns = 7;

// The whole window, the form first.
std::vector<ControlLayout> MainWindowLayout();

struct ScreenBox {
  int left = 0, top = 0, width = 0, height = 0;
};
struct ScreenPoint {
  int x = 0, y = 0;
  bool operator==(const ScreenPoint&) const = default;
};
// Where a window of outer size opens beside `main`: right of it, else left of it, else over
// it, and always whole within `room` (the screen's free area) when it fits there.
ScreenPoint PlaceBeside(const ScreenBox& main, int outerWidth, int outerHeight,
                        const ScreenBox& room);

}  // namespace korvel
