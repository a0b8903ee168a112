// The main window: draws the core's view state and hands every operator action to the
// station. It keeps no state of its own beyond what Qt needs to draw.
#pragma once

#include <QLabel>
#include <QMap>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "station/Station.h"
#include "ui/PendingMessages.h"

class QTimer;

namespace korvel {

// A picture that reports double-clicks (the logo opens the settings lock).
class TPicture : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void doubleClicked();

 protected:
  void mouseDoubleClickEvent(QMouseEvent*) override { emit doubleClicked(); }
};

class TForm1 : public QWidget, public StationView {
  Q_OBJECT
 public:
  explicit TForm1(StationEnvironment env);
  ~TForm1() override;

  // FormCreate, then the first paint.
  void Start(const std::vector<std::string>& args);
  Station& station() { return *station_; }
  StationPresenter& presenter() { return station_->Presenter(); }
  QWidget* Control(const std::string& name) const {
    return controls_.value(QString::fromStdString(name));
  }

  // StationView
  void Render(const ViewState& state) override;
  void ShowMessage(const std::string& dialog, const std::string& caption,
                   const std::string& text) override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  std::optional<std::string> AskPassword() override;
  int AskLanguage(int preselected) override;
  int ScreenWidth() override;
  int ScreenHeight() override;

  // Tests answer the dialogs instead of an operator; unset, real modal dialogs are shown.
  std::function<void(const std::string& dialog, const std::string& caption,
                     const std::string& text)>
      MessageHook;
  std::function<bool(const std::string& caption, const std::string& text)> QuestionHook;
  std::function<std::optional<std::string>()> PasswordHook;
  std::function<int(int preselected)> LanguageHook;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // The window hears PageDown before the control with the focus (FormKeyDown).
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Every control of the window's layout table, then what only Qt needs (Finish).
  void Build();
  void Finish();
  void WidenSpecialColumns();
  void Wire();
  void Layout(const ViewState& state);
  // Widens what the current language's captions need; never below the design's widths.
  void FitToText();
  // The window's own captions (not the core's) in the current language.
  void OwnTexts();
  void PlaceEngineeringPage();
  void ExecMessage(const std::string& dialog, const std::string& caption, const std::string& text);
  void ShowPendingMessages();
  void Changed(QWidget* w);
  // Edits report when committed; an action first commits the one being typed in.
  void CommitEdits();
  void Act(const std::function<void()>& action);

  std::unique_ptr<Station> station_;
  std::filesystem::path workingDirectory_;  // where logo.bmp is looked for
  QMap<QString, QWidget*> controls_;
  QList<QPixmap> bindFrames_;
  QTimer* bindAnimation_ = nullptr;
  int bindFrame_ = 0;
  bool rendering_ = false;
  bool closing_ = false;
  bool fitted_ = false;
  int ownTextsLanguage_ = -1;  // the language OwnTexts last put its captions in
  PendingMessages pending_;
};

// Where a window of size `outer` opens beside `main`: right of it, else left of it, else over
// it, and always whole within `room` (the screen's free area) when it fits there.
QPoint PlaceBeside(const QRect& main, const QSize& outer, const QRect& room);

}  // namespace korvel
