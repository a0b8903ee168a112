#include "ui/qt/Form1.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>

#include "localization/Lang.h"
#include "ui/WindowLayout.h"
#include "ui/qt/Form2.h"
#include "ui/qt/HexEdit.h"
#include "ui/qt/KRVImageComboBox.h"
#include "ui/qt/Pictures.h"
#include "ui/qt/hhALed.h"

namespace korvel {

namespace {
constexpr int kTopStrip = kWindowTopStrip;
constexpr int kSettingsEnd = kWindowSettingsEnd;
const QSize kStatePicture(64, 64);
constexpr int kTraceLines = 2000;  // the oldest go first

// One flat light-grey skin for every control.
const char* const kSkin = R"(
  QWidget#Form1 { background: #f0f0f0; }
  QGroupBox { border: 1px solid #a8a8a8; border-radius: 3px; margin-top: 8px; }
  QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 3px; }
  QGroupBox#gbSetting { border: none; margin-top: 0; }
  QLineEdit[readOnly="true"] { background: #fafafa; }
)";

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
std::string S(const QString& s) {
  return s.toStdString();
}

QFont FontOf(const QWidget* w, FontSize size) {
  if (size == FontSize::Fixed) return QFontDatabase::systemFont(QFontDatabase::FixedFont);
  QFont font = w->font();
  font.setPointSize(size == FontSize::Small ? 8 : size == FontSize::Large ? 18 : 34);
  if (size == FontSize::Large || size == FontSize::Huge) font.setBold(true);
  return font;
}

Qt::Alignment Aligned(TextAlign align) {
  switch (align) {
    case TextAlign::Left:
      return Qt::AlignLeft | Qt::AlignVCenter;
    case TextAlign::Centre:
      return Qt::AlignCenter;
    case TextAlign::Right:
      return Qt::AlignRight | Qt::AlignVCenter;
    case TextAlign::Default:
      break;
  }
  return {};
}

// A dialog of the window, centred on it when shown (its size is final only then).
template <class Dialog>
class CentredOn : public Dialog {
 public:
  explicit CentredOn(QWidget* over) : Dialog(over), over_(over) {}

 protected:
  void showEvent(QShowEvent* event) override {
    Dialog::showEvent(event);
    QRect frame = this->frameGeometry();
    frame.moveCenter(over_->frameGeometry().center());
    this->move(frame.topLeft());
  }

 private:
  QWidget* over_;
};

// The width a caption needs for its text in its font; 0 for what shows no text.
int TextWidth(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) {
    if (!label->pixmap().isNull() || label->wordWrap() || label->text().isEmpty()) return 0;
    return label->sizeHint().width();
  }
  if (auto* button = qobject_cast<QPushButton*>(w)) {
    const QString text = button->text().remove('&').trimmed();
    if (text.isEmpty()) return 0;
    // The style's own hint has a floor that would blow up the small R and W buttons.
    const QStyle* style = w->style();
    const int margins = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w) +
                        style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
    return w->fontMetrics().horizontalAdvance(text) + 2 * margins;
  }
  if (auto* button = qobject_cast<QAbstractButton*>(w))
    return button->text().isEmpty() ? 0 : button->sizeHint().width();
  // Lists of captions show their longest item whole; the image lists show pictures.
  if (auto* box = qobject_cast<QComboBox*>(w)) {
    if (qobject_cast<TKRVImageComboBox*>(w)) return 0;
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return box->sizeHint().width();
  }
  return 0;
}

// A pass phrase shows one star a character, whatever the style's own mask.
class StarMask : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returned) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returned);
  }
};
}  // namespace

TForm1::TForm1(StationEnvironment env) {
  setObjectName("Form1");
  station_ = std::make_unique<Station>(env, *this);
  workingDirectory_ = env.workingDirectory;
  setMinimumSize(130, 50);
  if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);
  setStyleSheet(kSkin);
  qApp->installEventFilter(this);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  Build();
  Wire();
  rendering_ = true;
  Render(presenter().View());  // the controls as designed, before FormCreate
  rendering_ = false;
}

TForm1::~TForm1() {
  qApp->removeEventFilter(this);
  presenter().SetTraceSink(nullptr);
  // The children outlive this part of the object; their last signals must not reach it.
  for (QWidget* w : std::as_const(controls_)) w->disconnect(this);
}

void TForm1::Build() {
  QString root;
  QMap<QString, QButtonGroup*> radioGroups;
  for (const ControlLayout& c : MainWindowLayout()) {
    if (c.kind == ControlKind::Form) {
      root = Q(c.name);
      continue;
    }
    QWidget* parent = Q(c.parent) == root ? this : Control(c.parent);
    const QString caption = Q(c.caption);
    QWidget* w = nullptr;
    switch (c.kind) {
      case ControlKind::Form:
        break;
      case ControlKind::Group: {
        auto* group = new QGroupBox(parent);
        if (!caption.isEmpty()) group->setTitle(caption);
        w = group;
        break;
      }
      case ControlKind::Label: {
        auto* label = new QLabel(parent);
        label->setText(caption);
        label->setWordWrap(c.wordWrap);
        if (c.elide) label->setProperty("elide", true);
        w = label;
        break;
      }
      case ControlKind::Picture:
        w = new TPicture(parent);
        break;
      case ControlKind::Image:
        w = new QLabel(parent);
        break;
      case ControlKind::Button:
        w = new QPushButton(caption, parent);
        break;
      case ControlKind::CheckBox:
        w = new QCheckBox(caption, parent);
        break;
      case ControlKind::RadioButton:
        w = new QRadioButton(caption, parent);
        break;
      case ControlKind::Edit:
        // Only an edit with its own alignment needs the window's edit.
        w = c.align == TextAlign::Default ? new QLineEdit(parent) : new TKRVEdit(parent);
        break;
      case ControlKind::HexEdit: {
        auto* hex = new THexEdit(parent);
        hex->SetIsFilter(c.filterHex);
        w = hex;
        break;
      }
      case ControlKind::ComboBox:
        w = new QComboBox(parent);
        break;
      case ControlKind::ImageComboBox:
        w = new TKRVImageComboBox(parent);
        break;
      case ControlKind::SpinBox:
        w = new QSpinBox(parent);
        break;
      case ControlKind::ProgressBar:
        w = new QProgressBar(parent);
        break;
      case ControlKind::Lamp:
        w = new ThhALed(parent);
        break;
      case ControlKind::TabControl:
        w = new QTabWidget(parent);
        break;
      case ControlKind::TabPage:
      case ControlKind::List:
        w = c.kind == ControlKind::List ? new QListWidget(parent) : new QWidget(parent);
        break;
    }
    w->setObjectName(Q(c.name));
    w->setGeometry(c.x, c.y, c.width, c.height);
    controls_.insert(Q(c.name), w);

    if (c.kind == ControlKind::TabPage) qobject_cast<QTabWidget*>(parent)->addTab(w, caption);
    if (c.ownWindow) {
      w->setWindowFlags(Qt::Tool);
      w->setWindowTitle(caption);
    }
    if (c.font != FontSize::Normal) w->setFont(FontOf(w, c.font));
    if (c.align != TextAlign::Default) {
      if (auto* label = qobject_cast<QLabel*>(w)) label->setAlignment(Aligned(c.align));
      if (auto* edit = qobject_cast<TKRVEdit*>(w)) edit->SetAlignment(Aligned(c.align));
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      if (c.maxLength > 0) edit->setMaxLength(c.maxLength);
      edit->setReadOnly(c.readOnly);
    }
    if (!c.radioGroup.empty()) {
      QButtonGroup*& group = radioGroups[Q(c.radioGroup)];
      if (!group) group = new QButtonGroup(parent);
      group->addButton(qobject_cast<QRadioButton*>(w));
    }
    if (!c.shown) w->hide();
  }
  Finish();
}

void TForm1::Finish() {
  qobject_cast<QLabel*>(Control("imgLogo"))->setPixmap(LogoPicture(Control("imgLogo")->size()));
  const QPixmap custom(QString::fromStdString((workingDirectory_ / "logo.bmp").string()));
  if (!custom.isNull()) qobject_cast<QLabel*>(Control("imgCust"))->setPixmap(custom);
  qobject_cast<QLabel*>(Control("imgNoneDev"))->setPixmap(NoDevicePicture(kStatePicture));
  qobject_cast<QLabel*>(Control("imgConnected"))->setPixmap(ConnectedPicture(kStatePicture));
  bindFrames_ = BindFrames(kStatePicture);
  auto* bind = qobject_cast<QLabel*>(Control("gifBind"));
  bind->setPixmap(bindFrames_.first());
  bindAnimation_ = new QTimer(this);
  bindAnimation_->setInterval(250);
  connect(bindAnimation_, &QTimer::timeout, this, [this, bind] {
    bindFrame_ = (bindFrame_ + 1) % int(bindFrames_.size());
    bind->setPixmap(bindFrames_[bindFrame_]);
  });
  qobject_cast<TKRVImageComboBox*>(Control("cbbLang"))->SetImageList(LanguagePictures());
  qobject_cast<QProgressBar*>(Control("pbSetTX"))->setTextVisible(false);

  // Enter belongs to Go alone.
  for (QWidget* w : std::as_const(controls_))
    if (auto* button = qobject_cast<QPushButton*>(w)) button->setAutoDefault(false);
  qobject_cast<QPushButton*>(Control("btnGo"))->setDefault(true);

  auto* ledRx = qobject_cast<ThhALed*>(Control("ledRX"));
  auto* ledTx = qobject_cast<ThhALed*>(Control("ledTX"));
  for (ThhALed* led : {ledRx, ledTx}) {
    led->SetLEDStyle(LEDStyle::LEDSqLarge);
    led->SetBlink(false);
  }
  ledTx->SetInterval(300);
  for (const char* name : {"lblReason", "lblYield"})
    qobject_cast<QLabel*>(Control(name))->setTextFormat(Qt::PlainText);

  WidenSpecialColumns();
  auto* result = qobject_cast<QLabel*>(Control("lblEngResult"));
  result->setTextInteractionFlags(Qt::TextSelectableByMouse);
  result->setTextFormat(Qt::PlainText);
  result->raise();
  auto* list = qobject_cast<QListWidget*>(Control("lstTrace"));
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setUniformItemSizes(true);
  connect(qobject_cast<QPushButton*>(Control("btnClearTrace")), &QPushButton::clicked, list,
          &QListWidget::clear);
  presenter().SetTraceSink([list](const std::string& line) {
    list->addItem(Q(line));
    while (list->count() > kTraceLines) delete list->takeItem(0);
    list->scrollToBottom();
  });
}

void TForm1::WidenSpecialColumns() {
  // The columns are as wide as the widest name needs.
  int column = kSpecialColumnWidth;
  auto name = [](const char* kind, int q, int i) {
    return std::string(kind) + "edtSC0" + std::to_string(q) + "_0" + std::to_string(i);
  };
  for (int i = 0; i < kSpecialColumns; ++i) {
    const QLabel* label = qobject_cast<QLabel*>(Control(name("lbl", 1, i)));
    column = std::max(column, label->fontMetrics().horizontalAdvance(label->text()) + 8);
  }
  QWidget* special = Control("gbSpecialCmd");
  special->resize(kSpecialColumnsLeft + kSpecialColumns * column + 8, special->height());
  for (int i = 0; i < kSpecialColumns; ++i) {
    const int x = kSpecialColumnsLeft + column * i;
    QWidget* label = Control(name("lbl", 1, i));
    label->setGeometry(x, label->y(), column - 2, label->height());
    for (int q : {1, 4}) {
      QWidget* field = Control(name("", q, i));
      field->move(x, field->y());
    }
  }
}

void TForm1::Wire() {
  for (auto it = controls_.begin(); it != controls_.end(); ++it) {
    QWidget* w = it.value();
    const QString name = it.key();
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
      if (!e->isReadOnly())
        connect(e, &QLineEdit::editingFinished, this, [this, e] { Changed(e); });
    } else if (auto* b = qobject_cast<QPushButton*>(w)) {
      connect(b, &QPushButton::clicked, this,
              [this, name] { Act([this, name] { presenter().Click(S(name)); }); });
    } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
      connect(c, &QCheckBox::toggled, this, [this, c] { Changed(c); });
    } else if (auto* r = qobject_cast<QRadioButton*>(w)) {
      connect(r, &QRadioButton::toggled, this, [this, r] { Changed(r); });
    } else if (auto* box = qobject_cast<QComboBox*>(w)) {
      connect(box, qOverload<int>(&QComboBox::activated), this, [this, box] { Changed(box); });
    } else if (auto* spin = qobject_cast<QSpinBox*>(w)) {
      connect(spin, qOverload<int>(&QSpinBox::valueChanged), this, [this, spin] { Changed(spin); });
    }
  }
  for (const char* name : {"imgLogo", "imgCust"})
    connect(qobject_cast<TPicture*>(Control(name)), &TPicture::doubleClicked, this,
            [this] { Act([this] { presenter().imgLogoDblClick(); }); });
  auto* engineer = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), this);
  connect(engineer, &QShortcut::activated, this,
          [this] { Act([this] { presenter().ToggleEngineerView(); }); });
}

void TForm1::Act(const std::function<void()>& action) {
  if (rendering_) return;
  CommitEdits();
  action();
  Render(presenter().View());
}

void TForm1::CommitEdits() {
  if (auto* e = qobject_cast<QLineEdit*>(QApplication::focusWidget());
      e && e->isModified() && controls_.contains(e->objectName()))
    Changed(e);
}

void TForm1::Changed(QWidget* w) {
  if (rendering_ || closing_) return;
  const std::string name = S(w->objectName());
  if (name == "cbbLang") {
    presenter().cbbLangChange(qobject_cast<QComboBox*>(w)->currentIndex());
    Render(presenter().View());
    return;
  }
  // Widgets of the window's own (the trace list, its Clear button) are not the core's.
  const ControlState* known = presenter().View().Find(name);
  if (!known) return;
  ControlState state = *known;
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    if (known && state.text == S(e->text()) && !e->isModified()) return;
    e->setModified(false);
    state.text = S(e->text());
  } else if (auto* c = qobject_cast<QAbstractButton*>(w)) {
    if (known && state.checked == c->isChecked()) return;
    state.checked = c->isChecked();
  } else if (auto* box = qobject_cast<QComboBox*>(w)) {
    state.itemIndex = box->currentIndex();
  } else if (auto* spin = qobject_cast<QSpinBox*>(w)) {
    state.value = spin->value();
  }
  presenter().ControlChanged(name, state);
  Render(presenter().View());
}

void TForm1::Render(const ViewState& state) {
  const bool outer = !rendering_;
  rendering_ = true;
  setWindowTitle(Q(state.caption));
  bool captionsChanged = false;
  for (const auto& [name, c] : state.controls) {
    QWidget* w = Control(name);
    if (!w) continue;
    const QSignalBlocker quiet(w);
    w->setEnabled(c.enabled);
    if (auto* label = qobject_cast<QLabel*>(w)) {
      QString text = Q(c.text);
      if (label->property("elide").toBool()) {
        // A line longer than its place keeps its start in view and the whole in the tooltip.
        const bool whole = label->fontMetrics().horizontalAdvance(text) <= label->width();
        label->setToolTip(whole ? QString() : text);
        if (!whole) text = label->fontMetrics().elidedText(text, Qt::ElideRight, label->width());
      }
      if (label->pixmap().isNull() && label->text() != text) {
        label->setText(text);
        captionsChanged = true;
      }
      const QString colour = c.color.empty() ? QString() : "color: " + Q(c.color);
      if (label->styleSheet() != colour) label->setStyleSheet(colour);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      if (button->text() != Q(c.text)) {
        button->setText(Q(c.text));
        captionsChanged = true;
      }
      if (button->isCheckable()) button->setChecked(c.checked);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
      if (group->title() != Q(c.text)) {
        group->setTitle(Q(c.text));
        captionsChanged = true;
      }
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      // Never overwrite what an operator is typing; the core hears of it when committed.
      const bool typing = edit->hasFocus() && edit->isModified();
      if (!typing && edit->text() != Q(c.text)) edit->setText(Q(c.text));
      // A field that holds the mark of a failed read says so in red.
      const QString colour = c.color.empty() ? QString() : "color: " + Q(c.color);
      if (edit->styleSheet() != colour) edit->setStyleSheet(colour);
    } else if (auto* box = qobject_cast<QComboBox*>(w)) {
      QStringList items;
      for (const auto& item : c.items) items << Q(item);
      QStringList current;
      for (int i = 0; i < box->count(); ++i) current << box->itemText(i);
      if (items != current) {
        box->clear();
        box->addItems(items);
        captionsChanged = true;
      }
      box->setCurrentIndex(c.itemIndex);
    } else if (auto* spin = qobject_cast<QSpinBox*>(w)) {
      spin->setRange(c.minimum, c.maximum);
      spin->setValue(c.value);
    } else if (auto* bar = qobject_cast<QProgressBar*>(w)) {
      bar->setRange(c.minimum, c.maximum);
      bar->setValue(c.value);
    } else if (auto* led = qobject_cast<ThhALed*>(w)) {
      if (led->Value() != c.checked) led->SetValue(c.checked);
    }
    // A tab's page is shown by its tab widget, not by the state.
    if (!qobject_cast<QStackedWidget*>(w->parentWidget())) w->setVisible(c.visible);
  }
  if (auto* page = qobject_cast<QTabWidget*>(Control("spgcntrl1"))) {
    for (int i = 0; i < page->count(); ++i) {
      const ControlState* tab = state.Find(S(page->widget(i)->objectName()));
      if (!tab) continue;
      page->setTabText(i, Q(tab->text));
      page->setTabEnabled(i, tab->enabled);
    }
  }
  if (const ControlState* bind = state.Find("gifBind")) {
    if (bind->visible && !bindAnimation_->isActive()) bindAnimation_->start();
    if (!bind->visible) bindAnimation_->stop();
  }
  OwnTexts();
  if (captionsChanged || !fitted_) FitToText();
  Layout(state);
  if (outer) rendering_ = false;
}

void TForm1::OwnTexts() {
  // Render runs on every tick; a tab's text re-lays out its bar even when it is the same.
  if (ownTextsLanguage_ == int(CurrentLanguage())) return;
  ownTextsLanguage_ = int(CurrentLanguage());
  auto* page = qobject_cast<QTabWidget*>(Control("spgcntrl1"));
  page->setWindowTitle(Q(Words(Say("Engineering"))));
  page->setTabText(page->indexOf(Control("shtTrace")), Q(Words(Say("HID trace"))));
  qobject_cast<QPushButton*>(Control("btnClearTrace"))->setText(Q(Words(Say("Clear"))));
}

void TForm1::FitToText() {
  fitted_ = true;
  for (QWidget* w : std::as_const(controls_)) {
    if (!qobject_cast<QLabel*>(w) && !qobject_cast<QAbstractButton*>(w) &&
        !qobject_cast<QComboBox*>(w))
      continue;
    if (w->property("elide").toBool()) continue;  // keeps its place, and elides
    QVariant design = w->property("designWidth");
    if (!design.isValid()) w->setProperty("designWidth", design = w->width());
    const int width = std::max(design.toInt(), TextWidth(w));
    if (width != w->width()) w->resize(width, w->height());
  }
  // Reset follows the yield line, however long a busy day makes it.
  QWidget* yield = Control("lblYield");
  QWidget* reset = Control("btnYieldReset");
  reset->move(yield->geometry().right() + 1 + 4, reset->y());
  // Then each group holds what grew inside it, the innermost first.
  QList<QGroupBox*> groups = findChildren<QGroupBox*>();
  auto depth = [this](QWidget* w) {
    int d = 0;
    for (; w && w != this; w = w->parentWidget()) ++d;
    return d;
  };
  std::stable_sort(groups.begin(), groups.end(),
                   [&](QWidget* a, QWidget* b) { return depth(a) > depth(b); });
  for (QGroupBox* group : std::as_const(groups)) {
    if (group->parentWidget() == this) continue;  // placed by Layout
    QVariant design = group->property("designWidth");
    if (!design.isValid()) group->setProperty("designWidth", design = group->width());
    int width = design.toInt();
    // Only what grew: the design already holds the rest, some of it to the group's very edge.
    for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      const QVariant childDesign = child->property("designWidth");
      if (!child->isWindow() && childDesign.isValid() && child->width() > childDesign.toInt())
        width = std::max(width, child->geometry().right() + 1 + 8);
    }
    if (width != group->width()) group->resize(width, group->height());
  }
}

void TForm1::Layout(const ViewState& state) {
  setFixedSize(state.width, state.height);
  auto top = [&](const char* name) {
    const ControlState* c = state.Find(name);
    return c ? c->top : 0;
  };
  auto height = [&](const char* name) {
    const ControlState* c = state.Find(name);
    return c ? c->height : 0;
  };
  // The panel groups stack between the settings and the Go group while shown.
  int y = kSettingsEnd;
  for (const char* name : {"gb1", "gbRX", "gbTX"}) {
    QWidget* w = Control(name);
    w->setGeometry(4, y, 892, height(name));
    if (w->isVisibleTo(this)) y += height(name);
  }
  const int goTop = top("gbGo");
  Control("gbGo")->setGeometry(4, goTop, 892, height("gbGo"));
  Control("pbSetTX")->setGeometry(0, top("pbSetTX"), state.width, height("pbSetTX"));
  // The engineering page opens beside the main window each time it is opened.
  QWidget* page = Control("spgcntrl1");
  if (!page->isVisible()) {
    page->setProperty("placed", false);
  } else if (!page->property("placed").toBool()) {
    PlaceEngineeringPage();
    page->setProperty("placed", true);
  }
  // The settings group takes what room the computed height leaves.
  const int panels = y - kSettingsEnd;
  Control("gbSetting")
      ->setGeometry(4, kTopStrip, 892, std::max(goTop - panels - kTopStrip - 2, 100));
}

void TForm1::PlaceEngineeringPage() {
  auto* page = qobject_cast<QTabWidget*>(Control("spgcntrl1"));
  // As large as the fullest tab, with the result strip below it.
  QSize content;
  for (int i = 0; i < page->count(); ++i) {
    QWidget* tab = page->widget(i);
    for (QWidget* child : tab->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (child->isVisibleTo(tab))
        content =
            content.expandedTo({child->geometry().right() + 1, child->geometry().bottom() + 1});
  }
  constexpr int kMargin = 6, kResultStrip = 24;
  // What the tab bar and the frame take, as the page is laid out now.
  const QSize chrome = page->size() - page->currentWidget()->size();
  page->resize(content + QSize(kMargin, kMargin + kResultStrip) + chrome);
  Control("lblEngResult")->setGeometry(10, page->height() - kResultStrip, page->width() - 20, 20);

  // Right of the main window, else left of it, else over it; always whole on the screen that
  // holds the main window.
  const QRect main = frameGeometry();
  QScreen* screen = QGuiApplication::screenAt(main.center());
  if (!screen) screen = this->screen();
  page->move(PlaceBeside(main, page->frameGeometry().size(), screen->availableGeometry()));
}

QPoint PlaceBeside(const QRect& main, const QSize& outer, const QRect& room) {
  auto box = [](const QRect& r) { return ScreenBox{r.left(), r.top(), r.width(), r.height()}; };
  const ScreenPoint at = korvel::PlaceBeside(box(main), outer.width(), outer.height(), box(room));
  return {at.x, at.y};
}

void TForm1::Start(const std::vector<std::string>& args) {
  presenter().FormCreate(args);
  const ViewState& v = presenter().View();
  move(v.left, v.top);
}

void TForm1::ShowMessage(const std::string& dialog, const std::string& caption,
                         const std::string& text) {
  if (MessageHook) return MessageHook(dialog, caption, text);
  if (!pending_.Hold(isVisible(), {dialog, caption, text})) ExecMessage(dialog, caption, text);
}

void TForm1::ShowPendingMessages() {
  pending_.ShowAll(
      [this] { return isVisible() && !closing_; },
      [this](const PendingMessages::Message& m) { ExecMessage(m.dialog, m.caption, m.text); });
}

void TForm1::ExecMessage(const std::string& dialog, const std::string& caption,
                         const std::string& text) {
  CentredOn<QMessageBox> box(this);
  box.setObjectName(Q(dialog));
  box.setWindowTitle(Q(caption.empty() ? S(windowTitle()) : caption));
  box.setText(Q(text));
  box.setIcon(dialog == "dlgBind" ? QMessageBox::Information
              : dialog.empty()    ? QMessageBox::NoIcon
                                  : QMessageBox::Warning);
  box.setStandardButtons(QMessageBox::Ok);
  box.button(QMessageBox::Ok)->setText(Q(Words(Say("OK"))));
  box.exec();
}

bool TForm1::AskYesNo(const std::string& caption, const std::string& text) {
  if (QuestionHook) return QuestionHook(caption, text);
  CentredOn<QMessageBox> box(this);
  box.setObjectName("dlgQuestion");
  box.setWindowTitle(caption.empty() ? windowTitle() : Q(caption));
  box.setText(Q(text));
  box.setIcon(QMessageBox::Question);
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  // In the operator's language: Qt's own words would be English.
  box.button(QMessageBox::Yes)->setText(Q(Words(Say("Yes"))));
  box.button(QMessageBox::No)->setText(Q(Words(Say("No"))));
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> TForm1::AskPassword() {
  if (PasswordHook) return PasswordHook();
  CentredOn<QInputDialog> ask(this);
  ask.setObjectName("dlgPass");
  ask.setWindowTitle("Setting");
  ask.setLabelText("PASSWORD:");
  ask.setTextEchoMode(QLineEdit::Password);
  // One star for each character typed, not the style's dot.
  if (auto* edit = ask.findChild<QLineEdit*>()) {
    auto* stars = new StarMask;
    stars->setParent(&ask);
    edit->setStyle(stars);
  }
  ask.setOkButtonText("OK");
  ask.setCancelButtonText("Cancel");
  if (ask.exec() != QDialog::Accepted) return std::nullopt;
  return S(ask.textValue());
}

int TForm1::AskLanguage(int preselected) {
  if (LanguageHook) return LanguageHook(preselected);
  // The core's caption: the window shows it only from the first paint after FormCreate.
  TForm2 dialog(Q(presenter().View().caption), preselected);
  dialog.exec();
  return dialog.Chosen();
}

int TForm1::ScreenWidth() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry().width() : 1024;
}

int TForm1::ScreenHeight() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry().height() : 768;
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  presenter().FormActivate();
  // After the window has been drawn.
  if (!pending_.Empty()) QTimer::singleShot(0, this, [this] { ShowPendingMessages(); });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  // Closing the page leaves the engineering view, as the shortcut does: the next paint would
  // otherwise show it again.
  if (event->type() == QEvent::Close && !closing_ && watched == Control("spgcntrl1")) {
    if (presenter().State().engineerView) Act([this] { presenter().ToggleEngineerView(); });
    event->ignore();
    return true;
  }
  if (event->type() != QEvent::KeyPress || rendering_ || closing_)
    return QWidget::eventFilter(watched, event);
  const int key = static_cast<QKeyEvent*>(event)->key();
  auto* w = qobject_cast<QWidget*>(watched);
  // Keys of this window only (not of a list's popup or a dialog); what the station does not
  // take goes on to the control with the focus.
  if (!w || w->window() != this) return QWidget::eventFilter(watched, event);
  int virtualKey = key == Qt::Key_PageDown ? kVkPageDown : 0;
  // Go is the default button: Enter presses it, unless an entry or another button has the
  // focus (Enter commits the entry, or is that button's).
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    QWidget* focus = QApplication::focusWidget();
    const bool own =
        focus && (qobject_cast<QLineEdit*>(focus) || qobject_cast<QAbstractSpinBox*>(focus) ||
                  (qobject_cast<QAbstractButton*>(focus) && focus->objectName() != "btnGo"));
    if (!own) virtualKey = kVkReturn;
  }
  if (virtualKey != 0) {
    CommitEdits();
    if (presenter().FormKeyDown(virtualKey)) {
      Render(presenter().View());
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) presenter().FormActivate();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!closing_) {
    CommitEdits();
    closing_ = true;
    presenter().FormCloseQuery();
  }
  event->accept();
}

}  // namespace korvel
