#include "EmulatorPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QTimer>

namespace korvel {

EmulatorPanel::EmulatorPanel(Host& host, EmulatedHidPlatform& platform,
                             std::shared_ptr<EmulatedRx> rx, QWidget* parent)
    : QWidget(parent, Qt::Tool), host_(host), platform_(platform), rx_(std::move(rx)) {
  setObjectName("EmulatorPanel");
  setWindowTitle("Emulated dongle and mouse");
  auto* form = new QFormLayout(this);
  auto check = [&](const char* name, const char* text, bool on, auto apply) {
    auto* box = new QCheckBox(text, this);
    box->setObjectName(name);
    box->setChecked(on);
    connect(box, &QCheckBox::toggled, this, [this, apply](bool v) {
      apply(v);
      Refresh();
    });
    form->addRow(box);
  };
  EmulatedTx& tx = *rx_->Tx();
  check("chkRxPlugged", "RX dongle plugged in", rx_->Plugged(),
        [this](bool v) { v ? rx_->Plug() : rx_->Unplug(); });
  check("chkTxPowered", "TX mouse powered", tx.Powered(),
        [this](bool v) { rx_->Tx()->SetPowered(v, host_.TickCount()); });
  check("chkTxInRange", "TX mouse in radio range", tx.InRange(),
        [this](bool v) { rx_->Tx()->SetInRange(v); });
  check("chkRadio", "RX radio on (link possible)", true,
        [this](bool v) { rx_->SetRadioEnabled(v); });
  check("chkBindMode", "TX in bind mode (buttons held)", tx.BindMode(),
        [this](bool v) { rx_->Tx()->SetBindMode(v); });
  auto* battery = new QComboBox(this);
  battery->setObjectName("cbbBattery");
  for (int level = 0; level < 16; ++level) battery->addItem(QString::number(level));
  battery->setCurrentIndex(tx.BatteryLevel());
  connect(battery, qOverload<int>(&QComboBox::activated), this, [this](int level) {
    rx_->Tx()->SetBatteryLevel(uint8_t(level));
    Refresh();
  });
  form->addRow("Battery level (0 empty .. 15 full)", battery);
  status_ = new QLabel(this);
  status_->setObjectName("lblEmulatorStatus");
  form->addRow(status_);
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &EmulatorPanel::Refresh);
  timer->start(500);
  Refresh();
}

void EmulatorPanel::Refresh() {
  const auto& id = rx_->ActiveAddress();
  status_->setText(
      QString("Link: %1   RX address %2 %3 %4\nReports in/out: %5 / %6   open handles: %7")
          .arg(rx_->Linked() ? "up" : "down")
          .arg(id[0], 2, 16, QChar('0'))
          .arg(id[1], 2, 16, QChar('0'))
          .arg(id[2], 2, 16, QChar('0'))
          .arg(rx_->ReportsReceived())
          .arg(rx_->ReportsFetched())
          .arg(platform_.OpenHandleCount()));
}

}  // namespace korvel
