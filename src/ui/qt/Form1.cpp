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
#include "ui/qt/Form2.h"
#include "ui/qt/HexEdit.h"
#include "ui/qt/KRVImageComboBox.h"
#include "ui/qt/Pictures.h"
#include "ui/qt/hhALed.h"

namespace korvel {

namespace {
constexpr int kTopStrip = 72;      // logo, pictures, USB information, language
constexpr int kSettingsEnd = 344;  // where the panel groups start when shown
const QSize kStatePicture(64, 64);
constexpr int kTraceLines = 2000;  // the oldest go first
constexpr int kPageGap = 8;        // between the main window and the engineering page

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

// Fields that only show what the core computed.
bool ShowOnly(const QString& name) {
  return name == "edtVID" || name == "edtPID" || name == "edtRX" || name == "edtTX" ||
         name == "edtCaliTime" || name.endsWith("_IncCurrentSN") || name.endsWith("_IncNextSN") ||
         name.endsWith("_IncCurrentRFID") || name.endsWith("_IncNextRFID") ||
         name == "edtMseDongleAddr" || name == "edtRX_SN" || name == "edtTX_SN";
}
}  // namespace

TForm1::TForm1(StationEnvironment env) {
  setObjectName("Form1");
  station_ = std::make_unique<StationPresenter>(std::move(env), *this);
  setMinimumSize(130, 50);
  if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);
  setStyleSheet(kSkin);
  qApp->installEventFilter(this);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  Build();
  Wire();
  rendering_ = true;
  Render(station_->View());  // the controls as designed, before FormCreate
  rendering_ = false;
}

TForm1::~TForm1() {
  qApp->removeEventFilter(this);
  station_->SetTraceSink(nullptr);
  // The children outlive this part of the object; their last signals must not reach it.
  for (QWidget* w : std::as_const(controls_)) w->disconnect(this);
}

template <class W>
W* TForm1::Add(QWidget* parent, const std::string& name, int x, int y, int w, int h) {
  W* widget = new W(parent);
  widget->setObjectName(Q(name));
  widget->setGeometry(x, y, w, h);
  controls_.insert(Q(name), widget);
  return widget;
}

QLabel* TForm1::Label(QWidget* parent, const std::string& name, const char* text, int x, int y,
                      int w, int h) {
  QLabel* label = Add<QLabel>(parent, name, x, y, w, h);
  label->setText(QString::fromUtf8(text));
  return label;
}

void TForm1::Build() {
  // Top strip.
  auto* logo = Add<TPicture>(this, "imgLogo", 8, 4, 200, 66);
  logo->setPixmap(LogoPicture({200, 66}));
  auto* cust = Add<TPicture>(this, "imgCust", 8, 4, 400, 60);
  const QPixmap custom(
      QString::fromStdString((station_->WorkingDirectory() / "logo.bmp").string()));
  if (!custom.isNull()) cust->setPixmap(custom);
  Add<QLabel>(this, "imgNoneDev", 216, 4, 64, 64)->setPixmap(NoDevicePicture(kStatePicture));
  Add<QLabel>(this, "imgConnected", 216, 4, 64, 64)->setPixmap(ConnectedPicture(kStatePicture));
  bindFrames_ = BindFrames(kStatePicture);
  auto* bind = Add<QLabel>(this, "gifBind", 216, 4, 64, 64);
  bind->setPixmap(bindFrames_.first());
  bindAnimation_ = new QTimer(this);
  bindAnimation_->setInterval(250);
  connect(bindAnimation_, &QTimer::timeout, this, [this, bind] {
    bindFrame_ = (bindFrame_ + 1) % int(bindFrames_.size());
    bind->setPixmap(bindFrames_[bindFrame_]);
  });
  auto* connectButton = Add<QPushButton>(this, "btnCombo_Cmd_Soft_Bind_SW", 288, 20, 116, 32);
  connectButton->setAutoDefault(false);
  auto* usb = Add<QGroupBox>(this, "gbSysStatus", 412, 2, 196, 66);
  Label(usb, "lblVID", "VID", 10, 28, 28);
  auto* vid = Add<THexEdit>(usb, "edtVID", 38, 25, 52, 24);
  Label(usb, "lblPID", "PID", 100, 28, 28);
  auto* pid = Add<THexEdit>(usb, "edtPID", 128, 25, 52, 24);
  for (THexEdit* e : {vid, pid}) e->SetIsFilter(false);
  auto* lang = Add<TKRVImageComboBox>(this, "cbbLang", 618, 6, 84, 30);
  lang->SetImageList(LanguagePictures());
  Add<QPushButton>(this, "btnClearLng", 618, 40, 84, 24)->setAutoDefault(false);
  auto* pbind = Add<QPushButton>(this, "btnPBind", 716, 4, 176, 26);
  pbind->setAutoDefault(false);
  Add<QCheckBox>(this, "Call3204L", 716, 32, 176, 18);
  Add<QCheckBox>(this, "CallMAPX", 716, 50, 176, 18);

  auto* setting =
      Add<QGroupBox>(this, "gbSetting", 4, kTopStrip, 892, kSettingsEnd - kTopStrip - 2);
  BuildSettings(setting);
  BuildSerialPanel();
  auto* go = Add<QGroupBox>(this, "gbGo", 4, 0, 892, 120);
  BuildGo(go);
  auto* bar = Add<QProgressBar>(this, "pbSetTX", 0, 0, 900, 16);
  bar->setTextVisible(false);

  // Never shown to an operator.
  BuildEngineeringPage();
  Add<QListWidget>(this, "lstDebug", 0, 0, 10, 10)->hide();
  Add<QListWidget>(this, "DevListBox", 0, 0, 10, 10)->hide();
}

void TForm1::BuildSettings(QWidget* gb) {
  auto* keys = Add<QGroupBox>(gb, "gbCustKey", 6, 6, 268, 76);
  Label(keys, "lblHK1", "", 8, 24, 70);
  Add<QComboBox>(keys, "cbCustKey1", 80, 20, 180, 24);
  Label(keys, "lblHK2", "", 8, 50, 70);
  Add<QComboBox>(keys, "cbCustKey2", 80, 46, 180, 24);
  auto* iss = Add<QGroupBox>(gb, "gbISS", 6, 84, 268, 44);
  Add<QRadioButton>(iss, "rbRF_DR_15", 8, 20, 130, 20);
  Add<QRadioButton>(iss, "rbRF_DR_1A", 136, 20, 128, 20);
  auto* cpi = Add<QGroupBox>(gb, "gbCPI", 6, 130, 268, 44);
  Add<QRadioButton>(cpi, "rbRF_CPI_H", 8, 20, 130, 20);
  Add<QRadioButton>(cpi, "rbRF_CPI_L", 136, 20, 128, 20);
  // The battery list is the last row: its items are long, and it widens under the middle
  // column, which ends above it.
  auto* bty = Add<QGroupBox>(gb, "gbBTY", 6, 220, 268, 46);
  Add<QComboBox>(bty, "cbRF_Set_BTY_Low_Level", 8, 18, 252, 24);
  auto* rxType = Add<QGroupBox>(gb, "gbRXType", 6, 176, 268, 42);
  Add<QRadioButton>(rxType, "rbMouseOnly", 8, 18, 130, 20);
  Add<QRadioButton>(rxType, "rbKbdMse", 128, 18, 136, 20);

  auto* nl = Add<QGroupBox>(gb, "gbNL", 280, 6, 330, 86);
  Add<QRadioButton>(nl, "rbRF_DR_45", 8, 20, 314, 20);
  Add<QRadioButton>(nl, "rbRF_DR_4F", 8, 41, 314, 20);
  Add<QRadioButton>(nl, "rbRF_DR_4A", 8, 62, 314, 20);
  auto* ids = Add<QGroupBox>(gb, "gbVIDPID", 280, 94, 330, 106);
  Label(ids, "lblVID_SET", "VID", 8, 26, 30);
  Add<THexEdit>(ids, "edtVID_SET", 38, 22, 60, 24)->setMaxLength(4);
  Label(ids, "lblPID_SET", "PID", 112, 26, 30);
  Add<THexEdit>(ids, "edtPID_SET", 142, 22, 60, 24)->setMaxLength(4);
  Label(ids, "lblStrDesc", "", 8, 50, 314);
  Add<QLineEdit>(ids, "edtEEPROM_20", 8, 72, 314, 24)->setMaxLength(46);
  auto* poBind = Add<QGroupBox>(gb, "gbPO_BIND", 280, 94, 330, 44);
  Add<QRadioButton>(poBind, "rbRF_DR_5A", 8, 20, 130, 20);
  Add<QRadioButton>(poBind, "rbRF_DR_55", 146, 20, 140, 20);

  auto* erase = Add<QGroupBox>(gb, "gbErase", 616, 6, 270, 76);
  erase->setTitle("Erase EEPROM");
  Add<QCheckBox>(erase, "TX_Erased", 8, 22, 150, 20);
  Add<QPushButton>(erase, "btnEraseTX", 160, 18, 102, 26);
  Add<QCheckBox>(erase, "RX_Erased", 8, 50, 150, 20);
  Add<QPushButton>(erase, "btnEraseRX", 160, 46, 102, 26);
  auto* lrm = Add<QGroupBox>(gb, "gbLRM", 616, 84, 270, 44);
  lrm->setTitle("L+R+M Binding");
  Add<QCheckBox>(lrm, "LRMBinding", 8, 20, 254, 20);
  auto* suspend = Add<QGroupBox>(gb, "gbSuspend", 616, 130, 270, 76);
  suspend->setTitle("Rx USB Suspend Behavior");
  Label(suspend, "lblWakeupPeriod", "Wakeup Period", 8, 24, 100);
  Add<QSpinBox>(suspend, "suiSpinEdit2", 110, 20, 64, 24);
  Label(suspend, "Label4", "", 180, 24, 100);
  Label(suspend, "lblSleepPeriod", "Sleep Period", 8, 50, 100);
  Add<QSpinBox>(suspend, "suiSpinEdit1", 110, 46, 64, 24);
  Label(suspend, "Label3", "", 180, 50, 100);
  auto* wake = Add<QGroupBox>(gb, "gbWKUP", 616, 208, 270, 58);
  Add<QRadioButton>(wake, "rbRF_DR_25", 8, 17, 254, 19);
  Add<QRadioButton>(wake, "rbRF_DR_2A", 8, 37, 254, 19);
}

void TForm1::BuildEngineeringPage() {
  // A window of its own beside the main window, so the operator's layout never moves.
  auto* page = Add<QTabWidget>(this, "spgcntrl1", 0, 0, 900, 356);
  page->setWindowFlags(Qt::Tool);
  page->setWindowTitle("Engineering");
  page->hide();
  auto tab = [&](const char* name) {
    QWidget* w = Add<QWidget>(page, name, 0, 0, 750, 300);
    page->addTab(w, QString());
    return w;
  };
  auto hex = [&](QWidget* parent, const std::string& name, int x, int y, int length = 2) {
    auto* e = Add<THexEdit>(parent, name, x, y, 40, 24);
    e->SetIsFilter(false);
    e->setMaxLength(length);
    return e;
  };
  auto button = [&](QWidget* parent, const std::string& name, int x, int y, int w = 180) {
    auto* b = Add<QPushButton>(parent, name, x, y, w, 26);
    b->setAutoDefault(false);
    return b;
  };

  QWidget* t1 = tab("stbsht1");
  auto* special = new QGroupBox("Special Command", t1);
  special->setGeometry(6, 6, 736, 150);
  const char* const labels1[] = {"RSSIthreshold",     "MSE_SN",         "KBD_SN ",
                                 "CurrentChannelIdx", "RSSIChannelIdx", "BindChannelIdx",
                                 "GoodChannelCNT"};
  QFont small = special->font();
  small.setPointSize(8);
  // The columns are as wide as the widest name needs.
  int column = 86;
  for (const char* text : labels1)
    column = std::max(column, QFontMetrics(small).horizontalAdvance(text) + 8);
  special->resize(126 + 7 * column + 8, special->height());
  for (int q : {1, 4}) {
    const int y = q == 1 ? 22 : 90;
    button(special, "btnSpecialCmd" + std::to_string(q), 8, y + 18, 110);
    for (int i = 0; i < 7; ++i) {
      const std::string field = "edtSC0" + std::to_string(q) + "_0" + std::to_string(i);
      if (q == 1)
        Label(special, "lbl" + field, labels1[i], 126 + column * i, y, column - 2)->setFont(small);
      hex(special, field, 126 + column * i, y + 18);
    }
  }
  Label(special, "lblSC04", "Remain KBD ChannelMap Array & Binding Status", 126, 90, 600);
  auto* direct = new QGroupBox("Direct Reg", t1);
  direct->setGeometry(6, 160, 360, 100);
  hex(direct, "edtDirectAddr", 8, 24);
  hex(direct, "edtDirectData", 56, 24);
  button(direct, "btnC_Rd_Direct_Reg", 110, 22, 240);
  button(direct, "btnC_Wrt_Direct_Reg", 110, 56, 240);
  auto* rfic = new QGroupBox("RFIC", t1);
  rfic->setGeometry(382, 160, 360, 100);
  hex(rfic, "edtRFICAddr", 8, 24);
  hex(rfic, "edtRFICData", 56, 24);
  button(rfic, "btnRd_RFIC", 110, 22, 240);
  button(rfic, "btnWrt_RFIC", 110, 56, 240);

  QWidget* t3 = tab("stbsht3");
  auto* test = Add<QGroupBox>(t3, "gbTestMode", 6, 6, 360, 60);
  Label(test, "lblTestMode", "(1-12)", 8, 26, 50);
  Add<QLineEdit>(test, "edtTestMode", 60, 22, 40, 24);
  button(test, "btnC_Combo_Cmd_Set_Test_Mode", 110, 20, 240);
  button(t3, "btnC_JUMP_TO_POR", 6, 80);
  button(t3, "btnC_RELOAD_PARAMETER", 6, 114);

  QWidget* rf = tab("shtRF");
  const char* const kinds[][2] = {{"Direct_Reg", "Direct Reg"},
                                  {"EEPROM", "EEPROM"},
                                  {"Index_Reg", "Index Reg"},
                                  {"Sensor", "Sensor"},
                                  {"RFIC", "RFIC"}};
  const char* const fields[][2] = {{"edtRF_DirectRegAddr", "edtRF_DirectRegData"},
                                   {"edtRF_EEPROMAddr", "edtRF_EEPROMData"},
                                   {"edtRF_IndexRegAddr", "edtRF_IndexRegData"},
                                   {"edtRF_SensorAddr", "edtRF_SensorData"},
                                   {"edtRF_RFICAddr", "edtRF_RFICData"}};
  for (int i = 0; i < 5; ++i) {
    auto* g = new QGroupBox(kinds[i][1], rf);
    g->setGeometry(6 + (i % 2) * 250, 6 + (i / 2) * 84, 244, 80);
    hex(g, fields[i][0], 8, 22);
    hex(g, fields[i][1], 8, 50);
    button(g, std::string("btnC_RF_Rd_") + kinds[i][0], 56, 20);
    button(g, std::string("btnC_RF_Wrt_") + kinds[i][0], 56, 48);
  }
  auto* access = new QGroupBox("ACCESS", rf);
  access->setGeometry(506, 6, 236, 92);
  Add<QRadioButton>(access, "rbC_RF_ENTER_ACCESS_WO_LED", 8, 20, 224, 22);
  Add<QRadioButton>(access, "rbC_RF_ENTER_ACCESS_W_LED", 8, 42, 224, 22);
  Add<QRadioButton>(access, "rbC_RF_LEAVE_ACCESS", 8, 64, 224, 22);
  auto* cpi = new QGroupBox("SETUP CPI", rf);
  cpi->setGeometry(506, 102, 236, 56);
  Add<QSpinBox>(cpi, "edtC_RF_SETUP_CPI", 8, 22, 50, 24);
  button(cpi, "btnC_RF_SETUP_CPI", 66, 20, 160);
  auto* por = new QGroupBox("POR", rf);
  por->setGeometry(256, 174, 244, 56);
  button(por, "btnRF_DR_3C", 8, 20, 228);
  auto* reload = new QGroupBox("Fast Reload System Parameter", rf);
  reload->setGeometry(506, 174, 236, 56);
  button(reload, "btnRF_DR_3D", 8, 20, 220);

  QWidget* ee = tab("sht1");
  const char* const rows[][2] = {
      {"00", "C_DongleMseAd0_AD equ 00d"}, {"01", "C_DongleMseAd1_AD equ 01d"},
      {"02", "C_DongleMseAd2_AD equ 02d"}, {"15", "C_VID_H_AD  equ 15d"},
      {"16", "C_VID_L_AD  equ 16d"},       {"17", "C_PID_H_AD  equ 17d"},
      {"18", "C_PID_L_AD  equ 18d"},       {"19", "C_Str_Length_AD equ 19d"}};
  for (int i = 0; i < 8; ++i) {
    const int x = 6 + (i / 4) * 370, y = 8 + (i % 4) * 32;
    Label(ee, std::string("lblEEPROM_") + rows[i][0], rows[i][1], x, y + 4, 190);
    hex(ee, std::string("edtEEPROM_") + rows[i][0], x + 196, y);
    button(ee, std::string("btnEEPROM_R_") + rows[i][0], x + 242, y, 40);
    button(ee, std::string("btnEEPROM_W_") + rows[i][0], x + 286, y, 40);
  }
  const char* const extra[][2] = {{"20", "C_String_AD (20d~42d)"}, {"VID", "VID"}, {"PID", "PID"}};
  for (int i = 0; i < 3; ++i) {
    const int y = 144 + 32 * i;
    Label(ee, std::string("lblEEPROM_") + extra[i][0], extra[i][1], 6, y + 4, 190);
    button(ee, std::string("btnEEPROM_R_") + extra[i][0], 248, y, 40);
    button(ee, std::string("btnEEPROM_W_") + extra[i][0], 292, y, 40);
  }

  QWidget* device = tab("sht2");
  Add<QRadioButton>(device, "rbKB", 8, 12, 120, 22);
  Add<QRadioButton>(device, "rbMSE", 8, 36, 120, 22);
  button(device, "btnUpdateCustKey", 8, 70);

  QWidget* settings = tab("sht3");
  button(settings, "btnLoadSetting", 8, 12);
  button(settings, "btnWriteSetting", 8, 46);
  button(settings, "btnSetTX", 8, 80);

  // The failure of the page's last operation, on the strip below every tab's controls.
  auto* result = Add<QLabel>(page, "lblEngResult", 10, 332, 880, 20);
  result->setTextInteractionFlags(Qt::TextSelectableByMouse);
  result->setTextFormat(Qt::PlainText);
  result->raise();

  // Every feature report, as it went to and came from the dongle.
  QWidget* trace = tab("shtTrace");
  page->setTabText(page->count() - 1, "HID trace");
  auto* list = Add<QListWidget>(trace, "lstTrace", 6, 6, 736, 250);
  list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setUniformItemSizes(true);
  auto* clear = Add<QPushButton>(trace, "btnClearTrace", 6, 262, 120, 26);
  clear->setText("Clear");
  clear->setAutoDefault(false);
  connect(clear, &QPushButton::clicked, list, &QListWidget::clear);
  station_->SetTraceSink([list](const std::string& line) {
    list->addItem(Q(line));
    while (list->count() > kTraceLines) delete list->takeItem(0);
    list->scrollToBottom();
  });
}

void TForm1::BuildSerialPanel() {
  // Link IDs: one row per side.
  auto* ids = Add<QGroupBox>(this, "gb1", 4, kSettingsEnd, 892, 70);
  const char* const sides[] = {"RX", "TX"};
  for (int row = 0; row < 2; ++row) {
    const std::string x = sides[row];
    const int y = 16 + 26 * row;
    auto name = [&](const char* kind, const char* role) {
      return std::string(kind) + x + "_" + role;
    };
    Label(ids, name("lbl", "Side"), sides[row], 8, y + 2, 28);
    auto* group = new QButtonGroup(ids);
    group->addButton(Add<QRadioButton>(ids, name("rb", "RandomRFID"), 36, y, 100, 22));
    group->addButton(Add<QRadioButton>(ids, name("rb", "CustomRFID"), 138, y, 90, 22));
    Label(ids, name("lbl", "IncInitRFID"), "", 232, y + 2, 60);
    Add<THexEdit>(ids, name("edt", "IncInitRFID"), 294, y, 70, 22)->setMaxLength(6);
    Label(ids, name("lbl", "IncCurrentRFID"), "", 372, y + 2, 60);
    Add<THexEdit>(ids, name("edt", "IncCurrentRFID"), 434, y, 70, 22);
    Label(ids, name("lbl", "IncNextRFID"), "", 512, y + 2, 50);
    Add<THexEdit>(ids, name("edt", "IncNextRFID"), 564, y, 70, 22);
  }
  Add<QLabel>(ids, "lblRFIDNOTE", 644, 14, 240, 50)->setWordWrap(true);

  for (int side = 0; side < 2; ++side) {
    const std::string x = sides[side];
    auto name = [&](const char* kind, const char* role) {
      return std::string(kind) + x + "_" + role;
    };
    auto* gb = Add<QGroupBox>(this, "gb" + x, 4, kSettingsEnd, 892, 95);
    Add<QCheckBox>(gb, name("cb", "IsSN"), 8, 14, 300, 20);
    Add<QCheckBox>(gb, name("cb", "IsDate"), 316, 14, 330, 20);
    Label(gb, name("lbl", "Date"), "", 652, 16, 120);
    Label(gb, name("lbl", "FixSN"), "", 8, 42, 62);
    Add<QLineEdit>(gb, name("edt", "FixByteCount"), 72, 40, 30, 22)->setMaxLength(1);
    Label(gb, name("lbl", "FixSNByte"), "", 106, 42, 44);
    auto* fixKind = new QButtonGroup(gb);
    fixKind->addButton(Add<QRadioButton>(gb, name("rb", "FixAscii"), 152, 40, 70, 22));
    fixKind->addButton(Add<QRadioButton>(gb, name("rb", "FixHex"), 224, 40, 60, 22));
    Label(gb, name("lbl", "FixSNV"), "", 292, 42, 50);
    Add<QLineEdit>(gb, name("edt", "FixSN"), 344, 40, 130, 22);
    Label(gb, name("lbl", "IncSN"), "", 8, 68, 62);
    Add<QLineEdit>(gb, name("edt", "IncByteCount"), 72, 66, 30, 22)->setMaxLength(1);
    Label(gb, name("lbl", "IncSNByte"), "", 106, 68, 44);
    Label(gb, name("lbl", "IncInitSN"), "", 152, 68, 60);
    Add<THexEdit>(gb, name("edt", "IncInitSN"), 214, 66, 120, 22);
    Label(gb, name("lbl", "IncCurrentSN"), "", 342, 68, 60);
    Add<THexEdit>(gb, name("edt", "IncCurrentSN"), 404, 66, 120, 22);
    Label(gb, name("lbl", "IncNextSN"), "", 532, 68, 50);
    Add<THexEdit>(gb, name("edt", "IncNextSN"), 584, 66, 120, 22);
  }
}

void TForm1::BuildGo(QWidget* gb) {
  auto* ledRx = Add<ThhALed>(gb, "ledRX", 10, 22, 22, 22);
  auto* ledTx = Add<ThhALed>(gb, "ledTX", 10, 58, 22, 22);
  for (ThhALed* led : {ledRx, ledTx}) {
    led->SetLEDStyle(LEDStyle::LEDSqLarge);
    led->SetBlink(false);
  }
  ledTx->SetInterval(300);
  Add<QLineEdit>(gb, "edtRX", 40, 20, 210, 26);
  Add<QLineEdit>(gb, "edtTX", 40, 56, 210, 26);
  auto* go = Add<QPushButton>(gb, "btnGo", 262, 14, 150, 64);
  QFont big = go->font();
  big.setPointSize(18);
  big.setBold(true);
  go->setFont(big);
  go->setDefault(true);
  Add<QLabel>(gb, "lblHotKey", 262, 84, 150, 20)->setAlignment(Qt::AlignCenter);
  auto* result = Add<QLabel>(gb, "lblResult", 424, 8, 170, 66);
  QFont huge = result->font();
  huge.setPointSize(34);
  huge.setBold(true);
  result->setFont(huge);
  result->setAlignment(Qt::AlignCenter);
  // The result pictures carry nothing the result text does not say; they stay empty.
  Add<QLabel>(gb, "Image1", 424, 8, 1, 1);
  Add<QLabel>(gb, "Image2", 424, 8, 1, 1);
  // Why the unit failed: the group's last line, across its width.
  auto* reason = Add<QLabel>(gb, "lblReason", 10, 106, 876, 14);
  reason->setProperty("elide", true);
  QFont small = reason->font();
  small.setPointSize(8);
  reason->setFont(small);
  reason->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  reason->setTextFormat(Qt::PlainText);
  auto* yield = Add<QLabel>(gb, "lblYield", 10, 88, 196, 16);
  yield->setFont(small);
  yield->setTextFormat(Qt::PlainText);
  auto* reset = Add<QPushButton>(gb, "btnYieldReset", 208, 86, 46, 20);
  reset->setFont(small);
  auto* time = Add<TKRVEdit>(gb, "edtCaliTime", 448, 82, 80, 24);
  time->SetAlignment(Qt::AlignRight);
  Label(gb, "lblSec", "sec", 532, 86, 40);
  Add<QLabel>(gb, "lblRFPower", 606, 16, 112, 20);
  Add<QComboBox>(gb, "ComboRFPower", 720, 12, 80, 26);
  Add<QCheckBox>(gb, "cbResetRF", 606, 44, 280, 20);
  Add<QCheckBox>(gb, "cbKeyboardbind", 606, 68, 200, 20);
  Label(gb, "lbl14", "ID", 606, 94, 40);
  Label(gb, "lbl55", "RXSN", 606, 94, 40);
  Label(gb, "Label2", "TXSN", 606, 94, 40);
  for (const char* name : {"edtMseDongleAddr", "edtRX_SN", "edtTX_SN"})
    qobject_cast<THexEdit*>(Add<THexEdit>(gb, name, 650, 92, 150, 22))->SetIsFilter(false);
}

void TForm1::Wire() {
  for (auto it = controls_.begin(); it != controls_.end(); ++it) {
    QWidget* w = it.value();
    const QString name = it.key();
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
      if (ShowOnly(name))
        e->setReadOnly(true);
      else
        connect(e, &QLineEdit::editingFinished, this, [this, e] { Changed(e); });
    } else if (auto* b = qobject_cast<QPushButton*>(w)) {
      connect(b, &QPushButton::clicked, this,
              [this, name] { Act([this, name] { station_->Click(S(name)); }); });
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
            [this] { Act([this] { station_->imgLogoDblClick(); }); });
  auto* engineer = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), this);
  connect(engineer, &QShortcut::activated, this,
          [this] { Act([this] { station_->ToggleEngineerView(); }); });
}

void TForm1::Act(const std::function<void()>& action) {
  if (rendering_) return;
  CommitEdits();
  action();
  Render(station_->View());
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
    station_->cbbLangChange(qobject_cast<QComboBox*>(w)->currentIndex());
    Render(station_->View());
    return;
  }
  // Widgets of the window's own (the trace list, its Clear button) are not the core's.
  const ControlState* known = station_->View().Find(name);
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
  station_->ControlChanged(name, state);
  Render(station_->View());
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
  int x = main.right() + 1 + kPageGap;
  if (x + outer.width() > room.right() + 1) x = main.left() - kPageGap - outer.width();
  if (x < room.left()) x = room.right() + 1 - outer.width();
  x = std::max(x, room.left());
  const int y = std::max(std::min(main.top(), room.bottom() + 1 - outer.height()), room.top());
  return {x, y};
}

void TForm1::Start(const std::vector<std::string>& args) {
  station_->FormCreate(args);
  const ViewState& v = station_->View();
  move(v.left, v.top);
}

void TForm1::ShowMessage(const std::string& dialog, const std::string& caption,
                         const std::string& text) {
  if (MessageHook) return MessageHook(dialog, caption, text);
  // Before the window is on screen a message would open where no window is: it waits, and
  // so does every message behind it.
  if (!isVisible() || !pending_.empty()) {
    pending_.push_back({dialog, caption, text});
    return;
  }
  ExecMessage(dialog, caption, text);
}

void TForm1::ShowPendingMessages() {
  if (showingPending_) return;
  showingPending_ = true;
  while (!pending_.empty() && isVisible() && !closing_) {
    const Message m = pending_.front();
    ExecMessage(m.dialog, m.caption, m.text);
    pending_.pop_front();
  }
  showingPending_ = false;
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
  TForm2 dialog(Q(station_->View().caption), preselected);
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
  station_->FormActivate();
  // After the window has been drawn.
  if (!pending_.empty()) QTimer::singleShot(0, this, [this] { ShowPendingMessages(); });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && !rendering_ && !closing_ &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_PageDown) {
    auto* w = qobject_cast<QWidget*>(watched);
    // Keys of this window only (not of a list's popup or a dialog); what the station does not
    // take goes on to the control with the focus.
    if (w && w->window() == this) {
      CommitEdits();
      if (station_->FormKeyDown(kVkPageDown)) {
        Render(station_->View());
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) station_->FormActivate();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!closing_) {
    CommitEdits();
    closing_ = true;
    station_->FormCloseQuery();
  }
  event->accept();
}

}  // namespace korvel
