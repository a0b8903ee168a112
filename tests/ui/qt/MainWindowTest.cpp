// The real window on the offscreen platform, on the virtual host and the emulated bus.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>

#include "EmulatedRx.h"
#include "StationFixture.h"
#include "ui/qt/Form1.h"
#include "ui/qt/Form2.h"
#include "ui/qt/KRVImageComboBox.h"
#include "ui/qt/hhALed.h"

namespace korvel {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeForm();
    form->PasswordHook = [this]() -> std::optional<std::string> { return password; };
    form->Start({});
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  }
  void TearDown() override { SetCurrentLanguage(lkEng); }
  // A new window on the same bus, folder and language store; messages go to `messages`.
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
  }

  template <class W = QWidget>
  W* Find(const char* name) {
    W* w = form->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QString TextOfWidget(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    return {};
  }
  // Plugs the emulated dongle with a powered mouse and lets the first detection tick run.
  void PlugDongleWithMouse() {
    tx->SetPowered(true, host.TickCount());
    rx->SetTx(tx);
    platform.Attach(rx);
    host.RunFor(5500);
  }
  void DoubleClickLogo(int times) {
    for (int i = 0; i < times; ++i) QTest::mouseDClick(Find("imgLogo"), Qt::LeftButton);
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

// Every caption that is narrower than its text, "name: text (needed > has)".
std::vector<std::string> ClippedCaptions(QWidget* top) {
  std::vector<std::string> clipped;
  auto report = [&](QWidget* w, const QString& text, int needed, int has) {
    if (needed > has)
      clipped.push_back(w->objectName().toStdString() + ": " + text.toStdString() + " (" +
                        std::to_string(needed) + " > " + std::to_string(has) + ")");
  };
  for (QWidget* w : top->findChildren<QWidget*>()) {
    QWidget* parent = w->parentWidget();
    if (qobject_cast<QComboBox*>(parent) || qobject_cast<QAbstractSpinBox*>(parent)) continue;
    const QFontMetrics fm = w->fontMetrics();
    if (auto* label = qobject_cast<QLabel*>(w)) {
      if (!label->pixmap().isNull() || label->text().isEmpty()) continue;
      if (label->wordWrap())
        report(w, label->text(), label->heightForWidth(label->width()), label->height());
      else
        report(w, label->text(), fm.horizontalAdvance(label->text()),
               label->contentsRect().width());
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
      const QString text = button->text().remove('&').trimmed();
      if (text.isEmpty()) continue;
      report(w, text,
             fm.horizontalAdvance(text) +
                 2 * w->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w),
             w->width());
    } else if (auto* check = qobject_cast<QAbstractButton*>(w)) {
      if (check->text().isEmpty()) continue;
      report(w, check->text(), check->sizeHint().width(), w->width());
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
      if (group->title().isEmpty()) continue;
      report(w, group->title(), fm.horizontalAdvance(group->title()) + 2 * 11, w->width());
    } else if (auto* box = qobject_cast<QComboBox*>(w)) {
      QStyleOptionComboBox option;
      option.initFrom(box);
      option.editable = box->isEditable();
      const int field =
          w->style()
              ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, w)
              .width();
      for (int i = 0; i < box->count(); ++i) {
        const QString item = box->itemText(i);
        if (item.contains('|')) continue;
        report(w, item, fm.horizontalAdvance(item), field);
      }
    }
  }
  return clipped;
}

// Runs `act`, which opens a modal dialog of the window, and gives that dialog to `look` before
// closing it.
void WithModal(const std::function<void()>& act, const std::function<void(QWidget*)>& look) {
  bool seen = false;
  // Looks on every turn of the event loop until the dialog is there, whenever `act` opens it.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog || seen) return;
    seen = true;
    poll.stop();
    look(dialog);
    if (auto* d = qobject_cast<QDialog*>(dialog)) d->reject();
  });
  poll.start(0);
  act();
  QApplication::processEvents();
  EXPECT_TRUE(seen) << "no dialog opened";
}

TEST_F(MainWindowTest, NoCaptionIsNarrowerThanItsTextInAnyLanguage) {
  PlugDongleWithMouse();
  password = "MeridonQX";
  DoubleClickLogo(5);
  QTest::keyClick(form.get(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_TRUE(Find("gbRX")->isVisible());
  ASSERT_TRUE(Find("spgcntrl1")->isVisible());
  for (int kind : {0, 1, 2}) {
    form->presenter().cbbLangChange(kind);
    form->Render(form->presenter().View());
    for (QWidget* top : {static_cast<QWidget*>(form.get()), Find("spgcntrl1")})
      for (const std::string& clipped : ClippedCaptions(top))
        ADD_FAILURE() << "language " << kind << ": " << clipped;
  }
}

TEST_F(MainWindowTest, InitialStateOfEveryArea) {
  EXPECT_TRUE(form->windowTitle().startsWith(QString(kFormCaption) + " For B-Nova Only TempID="));
  EXPECT_EQ(form->size(), QSize(900, 480));
  auto* go = Find<QPushButton>("btnGo");
  EXPECT_EQ(go->text(), "Go");
  EXPECT_FALSE(go->isEnabled());
  EXPECT_TRUE(go->isDefault());
  EXPECT_EQ(Find<QPushButton>("btnCombo_Cmd_Soft_Bind_SW")->text(), "&Connect");
  EXPECT_EQ(Find<QLineEdit>("edtRX")->text(), "Mouse RX Not Ready");
  EXPECT_EQ(Find<QLineEdit>("edtTX")->text(), "Mouse TX Not Ready");
  EXPECT_EQ(Find<QLabel>("lblResult")->text(), "");
  EXPECT_EQ(Find<QLabel>("lblHotKey")->text(), "Hotkey:PageDown");
  auto* power = Find<QComboBox>("ComboRFPower");
  EXPECT_EQ(power->count(), 4);
  EXPECT_EQ(power->currentText(), "-20");
  EXPECT_FALSE(power->isEnabled());
  auto* reset = Find<QCheckBox>("cbResetRF");
  EXPECT_TRUE(reset->isChecked());
  EXPECT_FALSE(reset->isEnabled());
  EXPECT_FALSE(Find("gbSetting")->isEnabled());
  EXPECT_FALSE(Find("Call3204L")->isEnabled());
  EXPECT_FALSE(Find("CallMAPX")->isEnabled());
  auto* sleep = Find<QSpinBox>("suiSpinEdit1");
  EXPECT_EQ(std::tuple(sleep->minimum(), sleep->maximum(), sleep->value()), std::tuple(0, 200, 56));
  auto* wake = Find<QSpinBox>("suiSpinEdit2");
  EXPECT_EQ(std::tuple(wake->minimum(), wake->maximum(), wake->value()), std::tuple(3, 19, 15));
  auto* bar = Find<QProgressBar>("pbSetTX");
  EXPECT_EQ(std::tuple(bar->minimum(), bar->maximum(), bar->value()), std::tuple(0, 20, 0));
  EXPECT_EQ(bar->geometry().bottom() + 1, form->height());  // glued to the bottom
  EXPECT_EQ(Find("gbGo")->geometry().bottom() + 1, bar->geometry().top());
  EXPECT_TRUE(Find<QRadioButton>("rbRF_DR_1A")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("rbRF_DR_45")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("rbRF_CPI_L")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("rbRF_DR_25")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("rbMouseOnly")->isChecked());
  auto* key1 = Find<QComboBox>("cbCustKey1");
  EXPECT_EQ(key1->count(), 24);
  EXPECT_EQ(key1->currentIndex(), 7);
  EXPECT_EQ(Find<QComboBox>("cbCustKey2")->currentIndex(), 8);
  EXPECT_EQ(Find<QComboBox>("cbRF_Set_BTY_Low_Level")->count(), 3);
  auto* lang = Find<TKRVImageComboBox>("cbbLang");
  EXPECT_EQ(lang->count(), 3);
  EXPECT_EQ(lang->itemText(2), "|2");
  EXPECT_EQ(lang->currentIndex(), 0);
  for (const char* led : {"ledRX", "ledTX"}) {
    auto* l = Find<ThhALed>(led);
    EXPECT_EQ(l->Style(), LEDStyle::LEDSqLarge);
    EXPECT_FALSE(l->Blink());
    EXPECT_FALSE(l->Value());
  }
  EXPECT_EQ(Find<ThhALed>("ledTX")->Interval(), 300);
  EXPECT_TRUE(Find("imgNoneDev")->isVisible());
  for (const char* hidden :
       {"imgCust", "imgConnected", "gifBind", "gbPO_BIND", "spgcntrl1", "gb1", "gbRX", "gbTX",
        "cbKeyboardbind", "edtRX_SN", "edtTX_SN", "edtMseDongleAddr", "Image1", "lstDebug"})
    EXPECT_FALSE(Find(hidden)->isVisible()) << hidden;
}

TEST_F(MainWindowTest, PageDownPressesGoOnlyWhileGoIsEnabled) {
  QTest::keyClick(form.get(), Qt::Key_PageDown);
  EXPECT_EQ(form->station().Go().Requests(), 0);
  form->presenter().View()["btnGo"].enabled = true;
  form->Render(form->presenter().View());
  QTest::keyClick(Find("edtEEPROM_20"), Qt::Key_PageDown);  // from whatever has the focus
  EXPECT_EQ(form->station().Go().Requests(), 1);
}

// Go is the default button: Enter presses it, but an entry keeps its Enter to commit itself.
TEST_F(MainWindowTest, EnterPressesGoUnlessAnEntryHasTheFocus) {
  form->presenter().View()["btnGo"].enabled = true;
  form->Render(form->presenter().View());
  form->activateWindow();
  Find("btnGo")->setFocus();
  QTest::keyClick(Find("btnGo"), Qt::Key_Return);
  EXPECT_EQ(form->station().Go().Requests(), 1);
  form->presenter().View()["btnGo"].enabled = true;
  form->presenter().View()["edtVID_SET"].enabled = true;
  form->Render(form->presenter().View());
  Find("edtVID_SET")->setFocus();
  QTest::keyClick(Find("edtVID_SET"), Qt::Key_Enter);
  EXPECT_EQ(form->station().Go().Requests(), 1);
}

TEST_F(MainWindowTest, EachLanguageReachesEveryControlOfTheTable) {
  auto* lang = Find<TKRVImageComboBox>("cbbLang");
  for (int kind : {1, 2, 0}) {
    lang->setCurrentIndex(kind);
    emit lang->activated(kind);
    EXPECT_EQ(store.value, LanguageValueName(TLanguateKind(kind)));
    std::map<std::string, TTerm> last;  // a control bound twice shows its last text
    for (const auto& [name, key] : TextBindings()) last[name] = key;
    for (const auto& [name, key] : last) {
      QWidget* w = form->findChild<QWidget*>(QString::fromStdString(name));
      if (!w) {
        ADD_FAILURE() << "no control " << name;
        continue;
      }
      EXPECT_EQ(TextOfWidget(w).toStdString(), *TextOf(key, TLanguateKind(kind)))
          << name << " in " << kind;
    }
  }
  EXPECT_EQ(Find<QPushButton>("btnCombo_Cmd_Soft_Bind_SW")->text(), "&Connect");
}

TEST_F(MainWindowTest, FiveDoubleClicksAndThePassPhraseUnlockTheSettings) {
  password = "MeridonQx";
  DoubleClickLogo(5);
  EXPECT_FALSE(Find("gbSetting")->isEnabled());
  password = "MeridonQX";
  DoubleClickLogo(4);
  EXPECT_FALSE(Find("gbSetting")->isEnabled());
  DoubleClickLogo(1);
  EXPECT_TRUE(Find("gbSetting")->isEnabled());
  EXPECT_TRUE(Find("ComboRFPower")->isEnabled());
  EXPECT_TRUE(Find("Call3204L")->isEnabled());
  EXPECT_TRUE(messages.empty());
  DoubleClickLogo(1);
  EXPECT_FALSE(Find("gbSetting")->isEnabled());
  EXPECT_FALSE(Find("ComboRFPower")->isEnabled());
  EXPECT_EQ(messages, std::vector<std::string>{":Locked"});
}

TEST_F(MainWindowTest, EngineersOpenTheSerialPanelAndTheirEntriesAreSaved) {
  QTest::keyClick(form.get(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(Find("gbRX")->isVisible());  // locked: an operator's stray chord does nothing
  password = "MeridonQX";
  DoubleClickLogo(5);
  QTest::keyClick(form.get(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_TRUE(Find("gbRX")->isVisible());
  EXPECT_EQ(form->height(), 740 - 60 - 60);
  QTest::mouseClick(Find("cbTX_IsSN"), Qt::LeftButton, {}, QPoint(5, 10));
  EXPECT_TRUE(form->station().Ledger().Gen().TxSN.IsSN());
  EXPECT_EQ(form->height(), 740 - 60);
  auto* init = Find<QLineEdit>("edtTX_IncInitSN");
  ASSERT_TRUE(init->isVisible());
  init->setFocus();
  init->selectAll();
  QTest::keyClicks(init, "00ab");
  // A timer's repaint while typing leaves the half-typed entry alone.
  form->Render(form->presenter().View());
  EXPECT_EQ(init->text(), "00ab");
  QTest::keyClick(init, Qt::Key_Return);
  EXPECT_EQ(form->station().Ledger().Gen().TxSN.IncInitSN(), 0xAB);
  EXPECT_EQ(init->text(), "00AB");
  EXPECT_EQ(Find<QLineEdit>("edtTX_IncNextSN")->text(), "00AB");
  EXPECT_TRUE(Find<QLineEdit>("edtTX_IncNextSN")->isReadOnly());
  // A wrong entry is refused with a message and the field shows the generator again.
  init->setFocus();
  init->selectAll();
  QTest::keyClicks(init, "123456");
  QTest::keyClick(init, Qt::Key_Return);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(init->text(), "00AB");
}

TEST_F(MainWindowTest, PlugConnectAndSeeTheLampsAndTexts) {
  PlugDongleWithMouse();
  EXPECT_TRUE(Find<ThhALed>("ledRX")->Value());
  EXPECT_TRUE(Find<ThhALed>("ledTX")->Value());
  EXPECT_EQ(Find<QLineEdit>("edtRX")->text(), "Mouse RX Ready");
  EXPECT_EQ(Find<QLineEdit>("edtTX")->text(), "Mouse TX Ready");
  EXPECT_EQ(Find<QLineEdit>("edtVID")->text(), "1BCF");
  EXPECT_EQ(Find<QLineEdit>("edtPID")->text(), "053A");
  EXPECT_TRUE(Find("btnGo")->isEnabled());
  EXPECT_TRUE(Find("imgConnected")->isVisible());
  EXPECT_FALSE(Find("imgNoneDev")->isVisible());

  tx->SetBindMode(true);
  auto* connect = Find<QPushButton>("btnCombo_Cmd_Soft_Bind_SW");
  QTest::mouseClick(connect, Qt::LeftButton);
  EXPECT_EQ(connect->text(), "&Connecting");
  EXPECT_TRUE(Find("gifBind")->isVisible());
  EXPECT_FALSE(Find("imgConnected")->isVisible());
  host.RunFor(3000);
  EXPECT_EQ(messages, std::vector<std::string>{"dlgBind:Connect Success"});
  EXPECT_EQ(connect->text(), "&Connect");
  EXPECT_TRUE(Find("imgConnected")->isVisible());
  EXPECT_FALSE(Find("gifBind")->isVisible());

  rx->Unplug();
  host.RunFor(5500);
  EXPECT_FALSE(Find<ThhALed>("ledRX")->Value());
  EXPECT_EQ(Find<QLineEdit>("edtRX")->text(), "Mouse RX Not Ready");
  EXPECT_EQ(Find<QLineEdit>("edtVID")->text(), "");
}

TEST_F(MainWindowTest, EngineeringPageReadsARegisterWritesTheMouseAndShowsTheTrace) {
  PlugDongleWithMouse();
  password = "MeridonQX";
  DoubleClickLogo(5);
  QTest::keyClick(form.get(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
  auto* page = Find<QTabWidget>("spgcntrl1");
  ASSERT_TRUE(page->isVisible());
  for (int i = 0; i < page->count(); ++i) EXPECT_TRUE(page->isTabEnabled(i)) << i;
  Find<QListWidget>("lstTrace")->clear();

  rx->Registers()[2] = 0x56A9;
  page->setCurrentWidget(Find("sht1"));
  QTest::mouseClick(Find("btnEEPROM_R_02"), Qt::LeftButton);
  EXPECT_EQ(Find<QLineEdit>("edtEEPROM_02")->text(), "56");

  page->setCurrentWidget(Find("shtRF"));
  auto type = [&](const char* field, const char* text) {
    auto* e = Find<QLineEdit>(field);
    e->setFocus();
    e->selectAll();
    QTest::keyClicks(e, text);
    QTest::keyClick(e, Qt::Key_Return);
  };
  QTest::mouseClick(Find("rbC_RF_ENTER_ACCESS_WO_LED"), Qt::LeftButton, {}, QPoint(5, 10));
  type("edtRF_EEPROMAddr", "31");
  type("edtRF_EEPROMData", "A5");
  QTest::mouseClick(Find("btnC_RF_Wrt_EEPROM"), Qt::LeftButton);
  EXPECT_EQ(tx->EepromBytes()[0x31], 0xA5);
  EXPECT_EQ(tx->AccessMode(), EmulatedTx::Access::WithoutLed);

  auto* trace = Find<QListWidget>("lstTrace");
  ASSERT_GT(trace->count(), 4);
  bool sawWrite = false;
  for (int i = 0; i < trace->count(); ++i)
    sawWrite |= trace->item(i)->text().contains("-> 01 21 AA 31 A5");
  EXPECT_TRUE(sawWrite);
  QTest::mouseClick(Find("btnClearTrace"), Qt::LeftButton);
  EXPECT_EQ(trace->count(), 0);
}

TEST_F(MainWindowTest, GoByButtonAndByPageDownWritesUnitAfterUnit) {
  PlugDongleWithMouse();
  tx->SetBindMode(true);
  QTest::mouseClick(Find("btnCombo_Cmd_Soft_Bind_SW"), Qt::LeftButton);
  host.RunFor(3000);
  ASSERT_EQ(messages, std::vector<std::string>{"dlgBind:Connect Success"});
  tx->SetBindMode(false);
  host.RunFor(1000);
  auto* go = Find<QPushButton>("btnGo");
  ASSERT_TRUE(go->isEnabled());
  QTest::mouseClick(go, Qt::LeftButton);
  auto* result = Find<QLabel>("lblResult");
  EXPECT_EQ(result->text(), "PASS");
  EXPECT_TRUE(result->styleSheet().contains("blue"));
  const QString time = Find<QLineEdit>("edtCaliTime")->text();
  EXPECT_TRUE(QRegularExpression("^[0-9]+\\.[0-9]+$").match(time).hasMatch()) << time.toStdString();
  EXPECT_EQ(Find<QProgressBar>("pbSetTX")->value(), 20);
  EXPECT_FALSE(go->isEnabled());  // released: waiting for the next unit
  EXPECT_EQ(Find<QLineEdit>("edtRX")->text(), "Mouse RX Not Ready");

  // The next unit: unplug, plug, and PageDown.
  rx->Unplug();
  host.RunFor(5500);
  rx->Plug();
  host.RunFor(5500);
  ASSERT_TRUE(go->isEnabled());
  EXPECT_EQ(Find<QLineEdit>("edtRX")->text(), "Mouse RX Ready");
  QTest::keyClick(form.get(), Qt::Key_PageDown);
  EXPECT_EQ(form->station().Go().Requests(), 2);
  EXPECT_EQ(result->text(), "PASS");
}

TEST_F(MainWindowTest, EveryControlOfTheCoreHasItsWidget) {
  EXPECT_EQ(Find<QLabel>("lblRX_Side")->text(), "RX");  // the rows of the ID panel keep their names
  EXPECT_EQ(Find<QRadioButton>("rbTX_FixHex")->text(), "HEX");
  // A name misspelt on either side would leave the core drawing into nothing.
  for (const auto& [name, state] : form->presenter().View().controls)
    EXPECT_NE(form->findChild<QWidget*>(QString::fromStdString(name)), nullptr) << name;
}

TEST_F(MainWindowTest, AFailedUnitShowsWhy) {
  PlugDongleWithMouse();
  rx->InjectFault("no-link-after-reload");
  QTest::mouseClick(Find("btnGo"), Qt::LeftButton);
  EXPECT_EQ(Find<QLabel>("lblResult")->text(), "FAIL");
  auto* reason = Find<QLabel>("lblReason");
  EXPECT_TRUE(reason->isVisible());
  EXPECT_EQ(reason->text(), "link not back after reload");
  // The next unit starts without the old reason.
  rx->ClearFaults();
  rx->Unplug();
  host.RunFor(5500);
  EXPECT_EQ(reason->text(), "");
}

TEST_F(MainWindowTest, TheLanguageDialogPreselectsAndReturnsTheChoice) {
  TForm2 dialog("caption", 1);
  EXPECT_EQ(dialog.windowTitle(), "caption");
  EXPECT_EQ(dialog.cbbLang()->currentIndex(), 1);
  EXPECT_EQ(dialog.cbbLang()->count(), 3);
  dialog.cbbLang()->setCurrentIndex(2);
  EXPECT_EQ(dialog.Chosen(), 2);
  EXPECT_GE(dialog.cbbLang()->ItemHeight(), 24);  // flag pictures are 20 high
}

TEST_F(MainWindowTest, FixedPartCaptionsSurviveRepaintsAndLanguageChanges) {
  for (int kind : {1, 2, 0}) {
    form->presenter().cbbLangChange(kind);
    form->Render(form->presenter().View());
    form->repaint();
    QApplication::processEvents();
    for (const char* side : {"RX", "TX"}) {
      EXPECT_EQ(Find<QRadioButton>(("rb" + std::string(side) + "_FixAscii").c_str())->text(),
                "ASCII");
      EXPECT_EQ(Find<QRadioButton>(("rb" + std::string(side) + "_FixHex").c_str())->text(), "HEX");
    }
  }
}

TEST_F(MainWindowTest, PageDownReachesTheFocusedSpinBoxWhileGoIsDisabled) {
  password = "MeridonQX";
  DoubleClickLogo(5);
  ASSERT_FALSE(Find("btnGo")->isEnabled());
  auto* spin = Find<QSpinBox>("suiSpinEdit1");
  spin->setFocus();
  const int before = spin->value();
  QTest::keyClick(spin, Qt::Key_PageDown);
  EXPECT_LT(spin->value(), before);  // a page down the spin box's own steps
  EXPECT_EQ(form->station().Go().Requests(), 0);
  // With Go enabled the window takes the key and the spin box keeps its value.
  form->presenter().View()["btnGo"].enabled = true;
  form->Render(form->presenter().View());
  const int now = spin->value();
  QTest::keyClick(spin, Qt::Key_PageDown);
  EXPECT_EQ(form->station().Go().Requests(), 1);
  EXPECT_EQ(spin->value(), now);
}

TEST_F(MainWindowTest, DialogsOpenCentredOnTheWindowAndThePassPhraseShowsStars) {
  form->MessageHook = nullptr;
  form->PasswordHook = nullptr;
  const QPoint centre = form->frameGeometry().center();
  WithModal([&] { form->ShowMessage("dlgError", "Message", "text"); },
            [&](QWidget* box) {
              EXPECT_EQ(box->objectName(), "dlgError");
              EXPECT_LE((box->frameGeometry().center() - centre).manhattanLength(), 2);
            });
  WithModal([&] { form->AskPassword(); },
            [&](QWidget* ask) {
              EXPECT_EQ(ask->objectName(), "dlgPass");
              EXPECT_LE((ask->frameGeometry().center() - centre).manhattanLength(), 2);
              auto* edit = ask->findChild<QLineEdit*>();
              ASSERT_NE(edit, nullptr);
              QTest::keyClicks(edit, "abc");
              EXPECT_EQ(edit->text(), "abc");
              EXPECT_EQ(edit->displayText(), "***");
            });
}

TEST_F(MainWindowTest, MessagesRaisedBeforeTheWindowIsShownWaitForItInOrder) {
  form.reset();
  {
    std::ofstream ini(dir.path / "TX.ini", std::ios::binary);
    ini << "[TX]\r\nSleep=100\r\n[Device]\r\n2=12G4ABCD\r\n";
  }
  MakeForm();
  form->MessageHook = nullptr;
  bool shownBefore = false;
  QTimer::singleShot(0, [&] { shownBefore = QApplication::activeModalWidget() != nullptr; });
  form->Start({});
  QApplication::processEvents();
  EXPECT_FALSE(shownBefore);
  WithModal(
      [&] {
        form->show();
        QApplication::processEvents();
      },
      [&](QWidget* box) {
        EXPECT_TRUE(form->isVisible());
        EXPECT_NE(qobject_cast<QMessageBox*>(box)->text().toStdString().find("12G4ABCD"),
                  std::string::npos);
        EXPECT_LE(
            (box->frameGeometry().center() - form->frameGeometry().center()).manhattanLength(), 2);
      });
}

TEST_F(MainWindowTest, ClearLanguageForgetsTheSavedChoiceOnlyWhenConfirmed) {
  std::vector<std::string> asked;
  bool answer = false;
  form->QuestionHook = [&](const std::string&, const std::string& text) {
    asked.push_back(text);
    return answer;
  };
  store.value = "lkCht";
  QTest::mouseClick(Find("btnClearLng"), Qt::LeftButton);
  EXPECT_EQ(store.value, "lkCht");
  answer = true;
  QTest::mouseClick(Find("btnClearLng"), Qt::LeftButton);
  EXPECT_FALSE(store.value);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_NE(asked[0].find("Forget the saved language?"), std::string::npos);
}

TEST_F(MainWindowTest, TheQuestionBeforeForgettingTheLanguageIsInTheOperatorsLanguage) {
  form->presenter().cbbLangChange(2);  // Simplified Chinese
  store.value = "lkChs";
  WithModal(
      [&] { QTest::mouseClick(Find("btnClearLng"), Qt::LeftButton); },
      [&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->text().startsWith(QString::fromUtf8("要清除已保存的语言设定吗？")))
            << box->text().toStdString();
        EXPECT_EQ(box->button(QMessageBox::Yes)->text(), QString::fromUtf8("是"));
        EXPECT_EQ(box->button(QMessageBox::No)->text(), QString::fromUtf8("否"));
        EXPECT_LE(
            (box->frameGeometry().center() - form->frameGeometry().center()).manhattanLength(), 2);
      });
  EXPECT_EQ(store.value, "lkChs");  // closed without a yes: kept
}

TEST_F(MainWindowTest, TheLanguageDialogOfAFirstStartCarriesTheWholeCaption) {
  form.reset();
  store.value.reset();
  MakeForm();
  QString title;
  WithModal([&] { form->Start({}); }, [&](QWidget* dialog) { title = dialog->windowTitle(); });
  EXPECT_TRUE(title.startsWith(QString(kFormCaption) + " For B-Nova Only TempID="))
      << title.toStdString();
  EXPECT_EQ(title.toStdString(), form->presenter().View().caption);
}

TEST_F(MainWindowTest, TheEngineeringPageIsAsLargeAsItsFullestTab) {
  password = "MeridonQX";
  DoubleClickLogo(5);
  QTest::keyClick(form.get(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
  auto* page = Find<QTabWidget>("spgcntrl1");
  ASSERT_TRUE(page->isVisible());
  int right = 0, bottom = 0;
  for (int i = 0; i < page->count(); ++i)
    for (QWidget* child : page->widget(i)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      right = std::max(right, child->geometry().right());
      bottom = std::max(bottom, child->geometry().bottom());
    }
  const QSize chrome = page->size() - page->currentWidget()->size();
  // Everything shows, and no wide empty band is left beside it.
  EXPECT_GE(page->width(), right + chrome.width());
  EXPECT_LE(page->width(), right + chrome.width() + 40);
  EXPECT_GE(page->height(), bottom + chrome.height());
  EXPECT_LE(page->height(), bottom + chrome.height() + 60);
  // Its close box leaves the engineering view: the next paint does not bring it back.
  page->close();
  form->Render(form->presenter().View());
  EXPECT_FALSE(page->isVisible());
  EXPECT_FALSE(form->presenter().State().engineerView);
}

TEST_F(MainWindowTest, ALongReasonKeepsToItsLineAndResetFollowsABusyDaysYield) {
  // The longest a device failure says, with a long file path behind it.
  const std::string reason =
      "TX sensor register 0x00 read: no valid answer in 30 tries (the RX answers its link "
      "query: the TX is off or out of range); production record /home/line-operator/stations/"
      "line-7/records/production.db: database is locked (SQLite 5)";
  ViewState& v = form->presenter().View();
  v["lblReason"].text = reason;
  v["lblYield"].text = "Today PASS 12345  FAIL 6789  9999 units/h";
  form->Render(v);
  auto* label = Find<QLabel>("lblReason");
  EXPECT_TRUE(label->parentWidget()->rect().contains(label->geometry()));
  EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
  EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
  EXPECT_EQ(label->toolTip().toStdString(), reason);
  auto* yield = Find<QLabel>("lblYield");
  QWidget* reset = Find("btnYieldReset");
  EXPECT_GE(reset->x(), yield->x() + yield->fontMetrics().horizontalAdvance(yield->text()));
  EXPECT_TRUE(reset->parentWidget()->rect().contains(reset->geometry()));
  // A short reason shows whole, without a tooltip.
  v["lblReason"].text = "link not back after reload";
  form->Render(v);
  EXPECT_EQ(label->text(), "link not back after reload");
  EXPECT_TRUE(label->toolTip().isEmpty());
}

TEST(PlaceBeside, TheWindowsPositionsAreTheLayoutsOwn) {
  // The rule itself is the layout's (WindowLayoutTest); this window gives it Qt's rectangles.
  EXPECT_EQ(PlaceBeside(QRect(20, 30, 900, 600), QSize(760, 560), QRect(0, 0, 1920, 1040)),
            QPoint(928, 30));
}

}  // namespace
}  // namespace korvel
