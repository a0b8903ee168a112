#include <gtest/gtest.h>

#include <vector>

#include "VirtualHost.h"

namespace korvel {
namespace {

TEST(VirtualHost, TimersFireAtTheirIntervalOnlyWhenEnabled) {
  VirtualHost host(0);
  auto detect = host.CreateTimer();
  auto link = host.CreateTimer();
  std::vector<std::pair<char, uint64_t>> fired;
  detect->SetInterval(5500);
  detect->OnTimer = [&] { fired.push_back({'d', host.TickCount()}); };
  link->SetInterval(500);
  link->OnTimer = [&] { fired.push_back({'l', host.TickCount()}); };
  detect->SetEnabled(true);
  host.RunFor(60000);
  ASSERT_EQ(fired.size(), 10u);  // 5500 .. 55000
  EXPECT_EQ(fired.front().second, 5500u);
  EXPECT_EQ(fired.back().second, 55000u);
  EXPECT_EQ(host.TickCount(), 60000u);
}

TEST(VirtualHost, SleepAdvancesTimeWithoutFiringAndPumpCatchesUpOnce) {
  VirtualHost host(0);
  auto t = host.CreateTimer();
  int ticks = 0;
  t->SetInterval(100);
  t->OnTimer = [&] { ++ticks; };
  t->SetEnabled(true);
  host.Sleep(1000);
  EXPECT_EQ(ticks, 0);
  host.ProcessMessages();
  EXPECT_EQ(ticks, 1);  // one owed tick, not ten
  host.ProcessMessages();
  EXPECT_EQ(ticks, 1);
  host.RunFor(100);
  EXPECT_EQ(ticks, 2);
}

TEST(VirtualHost, RunningHandlerIsNotReenteredByItsOwnPump) {
  VirtualHost host(0);
  auto t = host.CreateTimer();
  int depth = 0, maxDepth = 0, ticks = 0;
  t->SetInterval(10);
  t->OnTimer = [&] {
    ++ticks;
    maxDepth = std::max(maxDepth, ++depth);
    for (int i = 0; i < 50; ++i) {  // a long handler that pumps, as device work does
      host.Sleep(1);
      host.ProcessMessages();
    }
    --depth;
  };
  t->SetEnabled(true);
  host.RunFor(200);
  EXPECT_EQ(maxDepth, 1);
  EXPECT_GE(ticks, 3);
}

TEST(VirtualHost, EnablingOrChangingIntervalRestartsTheCountdown) {
  VirtualHost host(0);
  auto t = host.CreateTimer();
  std::vector<uint64_t> at;
  t->SetInterval(1000);
  t->OnTimer = [&] { at.push_back(host.TickCount()); };
  t->SetEnabled(true);
  host.RunFor(700);
  t->SetEnabled(false);
  t->SetEnabled(true);  // restarts at 700
  host.RunFor(1000);
  ASSERT_EQ(at.size(), 1u);
  EXPECT_EQ(at[0], 1700u);
  t->SetInterval(300);  // restarts at 1700
  host.RunFor(300);
  ASSERT_EQ(at.size(), 2u);
  EXPECT_EQ(at[1], 2000u);
}

TEST(VirtualHost, HandlerThatDisablesItselfOrAnotherTimerIsRespected) {
  VirtualHost host(0);
  auto a = host.CreateTimer();
  auto b = host.CreateTimer();
  int aTicks = 0, bTicks = 0;
  a->SetInterval(100);
  b->SetInterval(100);
  a->OnTimer = [&] {
    ++aTicks;
    a->SetEnabled(false);
    b->SetEnabled(false);
  };
  b->OnTimer = [&] { ++bTicks; };
  a->SetEnabled(true);
  b->SetEnabled(true);
  host.RunFor(1000);
  EXPECT_EQ(aTicks, 1);
  EXPECT_EQ(bTicks, 0);  // disabled before its turn in the same pump
}

TEST(VirtualHost, TimerDestroyedBeforeTheHostIsForgotten) {
  VirtualHost host(0);
  int ticks = 0;
  {
    auto t = host.CreateTimer();
    t->SetInterval(10);
    t->OnTimer = [&] { ++ticks; };
    t->SetEnabled(true);
  }
  host.RunFor(100);
  EXPECT_EQ(ticks, 0);
}

}  // namespace
}  // namespace korvel
