// The main window: draws the core's view state and hands every operator action to the
// station. It keeps no state of its own beyond what Qt needs to draw.
#pragma once

#include <QLabel>
#include <QMap>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "connection/StationPresenter.h"

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
  StationPresenter& station() { return *station_; }
  QWidget* Control(const std::string& name) const {
    return controls_.value(QString::fromStdString(name));
  }

  // StationView
  void Render(const ViewState& state) override;
  void ShowMessage(const std::string& dialog, const std::string& caption,
                   const std::string& text) override;
  std::optional<std::string> AskPassword() override;
  int AskLanguage(int preselected) override;
  int ScreenWidth() override;
  int ScreenHeight() override;

  // Tests answer the dialogs instead of an operator; unset, real modal dialogs are shown.
  std::function<void(const std::string& dialog, const std::string& caption,
                     const std::string& text)>
      MessageHook;
  std::function<std::optional<std::string>()> PasswordHook;
  std::function<int(int preselected)> LanguageHook;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  template <class W>
  W* Add(QWidget* parent, const std::string& name, int x, int y, int w, int h);
  QLabel* Label(QWidget* parent, const std::string& name, const char* text, int x, int y, int w,
                int h = 20);
  void Build();
  void BuildSettings(QWidget* gb);
  void BuildSerialPanel();
  void BuildEngineeringPage();
  void BuildGo(QWidget* gb);
  void Wire();
  void Layout(const ViewState& state);
  void Changed(QWidget* w);
  // Edits report when committed; an action first commits the one being typed in.
  void CommitEdits();
  void Act(const std::function<void()>& action);

  std::unique_ptr<StationPresenter> station_;
  QMap<QString, QWidget*> controls_;
  QList<QPixmap> bindFrames_;
  QTimer* bindAnimation_ = nullptr;
  int bindFrame_ = 0;
  bool rendering_ = false;
  bool closing_ = false;
};

}  // namespace korvel
