// The monitor on its own: what it reports is typed events, in the order things happen.
#include <gtest/gtest.h>

#include <algorithm>

#include "EmulatedHid.h"
#include "EmulatedRx.h"
#include "VirtualHost.h"
#include "presence/PresenceMonitor.h"

namespace korvel {
namespace {

using E = PresenceEvent;

class PresenceMonitorTest : public ::testing::Test, public PresenceListener {
 protected:
  void SetUp() override {
    monitor.SetListener(this);
    rx->SetTx(tx);
    tx->SetPowered(true, host.TickCount());
    monitor.DetectHIDDeviceCounter().SetEnabled(true);
  }
  void OnPresence(const PresenceChange& change) override {
    events.push_back(change.event);
    if (change.event == E::RxOpened) opened = change.id;
  }

  VirtualHost host;
  EmulatedHidPlatform platform{host};
  std::shared_ptr<EmulatedRx> rx = std::make_shared<EmulatedRx>(host);
  std::shared_ptr<EmulatedTx> tx = std::make_shared<EmulatedTx>();
  RxLink link{platform, host};
  ReceiverFinder finder{link.Hid()};
  std::vector<E> events;
  VidPid opened;
  PresenceMonitor monitor{link, finder, host, [] { return std::nullopt; }};
};

TEST_F(PresenceMonitorTest, PlugAndPullAreReportedStepByStep) {
  platform.Attach(rx);
  host.RunFor(5500);
  EXPECT_EQ(events, (std::vector<E>{E::RxNotReady, E::DevicesChanged, E::RxOpened, E::RxReady,
                                    E::TxReady, E::GoAllowed}));
  EXPECT_EQ(opened.pid, 0x053A);
  EXPECT_TRUE(monitor.Ready().rx && monitor.Ready().tx);
  events.clear();
  host.RunFor(600);  // one link tick
  EXPECT_EQ(events, (std::vector<E>{E::TxReady, E::GoAllowed, E::LinkTickEnded}));
  events.clear();
  rx->Unplug();
  host.RunFor(5500);
  // The link ticks notice first; then detection.
  const auto dark = std::find(events.begin(), events.end(), E::TxNotReady);
  const auto gone = std::find(events.begin(), events.end(), E::RxNotReady);
  EXPECT_TRUE(dark < gone) << "TX dark before the RX is given up";
  // The population changed, and the search that followed found nothing to open, and said so.
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2], E::DevicesChanged);
  EXPECT_EQ(events.back(), E::NoReceiver);
  EXPECT_FALSE(monitor.Ready().rx || monitor.Ready().tx);
  EXPECT_FALSE(link.HaveRx());
}

TEST_F(PresenceMonitorTest, ALowBatteryIsReportedAndGoIsNotOffered) {
  tx->SetBatteryLevel(1);
  platform.Attach(rx);
  host.RunFor(5500);
  EXPECT_EQ(events.back(), E::BatteryLow);
  EXPECT_EQ(std::count(events.begin(), events.end(), E::GoAllowed), 0);  // Go is not offered
  EXPECT_TRUE(monitor.Ready().tx);  // though the mouse is there
  // A fresh battery: the next link tick offers Go.
  tx->SetBatteryLevel(3);
  host.RunFor(1000);
  EXPECT_EQ(events.back(), E::LinkTickEnded);
  EXPECT_EQ(std::count(events.begin(), events.end(), E::GoAllowed), 1);
}

TEST_F(PresenceMonitorTest, TheLinkTickStandsAsideForGo) {
  platform.Attach(rx);
  host.RunFor(5500);
  monitor.Hold();
  events.clear();
  const uint64_t sent = rx->ReportsReceived();
  host.RunFor(2000);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(rx->ReportsReceived(), sent);
  monitor.Resume();
  monitor.tmrIsTxLink().SetEnabled(true);
  host.RunFor(600);
  EXPECT_EQ(events.back(), E::LinkTickEnded);
}

TEST_F(PresenceMonitorTest, TheRunSeesTheTxThroughTheSameCheck) {
  platform.Attach(rx);
  host.RunFor(5500);
  LinkWatch& watch = monitor;
  EXPECT_TRUE(watch.CheckTx());
  tx->SetPowered(false, host.TickCount());
  EXPECT_FALSE(watch.CheckTx());
  EXPECT_EQ(events.back(), E::TxNotReady);
}

}  // namespace
}  // namespace korvel
