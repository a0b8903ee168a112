// The demo's second window: plays the operator's hands on the emulated dongle and mouse.
#pragma once

#include <QWidget>
#include <memory>

#include "EmulatedHid.h"
#include "EmulatedRx.h"
#include "platform/Host.h"

class QLabel;

namespace korvel {

class EmulatorPanel : public QWidget {
  Q_OBJECT
 public:
  EmulatorPanel(Host& host, EmulatedHidPlatform& platform, std::shared_ptr<EmulatedRx> rx,
                QWidget* parent);

 private:
  void Refresh();
  Host& host_;
  EmulatedHidPlatform& platform_;
  std::shared_ptr<EmulatedRx> rx_;
  QLabel* status_;
};

}  // namespace korvel
