// Plug to ready on the system's word: a tick shortly after a burst of interface events, an
// RX that left found by its identity, no state only a replug can leave, and the 5.5 s timer
// as it always was when there is no word.
#include <sys/types.h>

#include <algorithm>
#include <cstdio>

#include "EmulatedRx.h"
#include "StationFixture.h"
#include "device/HotPlug.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace korvel {
namespace {

class HotPlugTest : public StationTest {
 protected:
  std::unique_ptr<Station> Start(bool hotPlug) {
    source = platform.CreateHotPlugSource();
    StationEnvironment env = Environment();
    if (hotPlug) env.hotPlug = source.get();
    auto s = std::make_unique<Station>(env, view);
    s->Presenter().FormCreate({});
    s->Presenter().FormActivate();
    return s;
  }
  struct Unit {
    std::shared_ptr<EmulatedRx> rx;
    std::shared_ptr<EmulatedTx> tx = std::make_shared<EmulatedTx>();
  };
  Unit Make(int instance) {
    EmulatedRx::Config config;
    config.instance = instance;
    config.seed = uint32_t(instance);
    Unit u{std::make_shared<EmulatedRx>(host, config)};
    u.tx->SetPowered(true, host.TickCount());
    u.rx->SetTx(u.tx);
    return u;
  }
  // Virtual ms from the plug to both lamps on; -1 when not within maxMs.
  int64_t PlugToReady(Station& s, const Unit& u, uint64_t maxMs) {
    const uint64_t plug = host.TickCount();
    platform.Attach(u.rx);
    const bool ready =
        host.RunUntil([&] { return s.Presence().Ready().rx && s.Presence().Ready().tx; }, maxMs);
    return ready ? int64_t(host.TickCount() - plug) : -1;
  }
  std::unique_ptr<HotPlugSource> source;
};

TEST_F(HotPlugTest, APlugIsReadyWithin200MsAtEveryPhaseOfTheTimer) {
  auto s = Start(true);
  EXPECT_TRUE(s->Presence().HotPlug().Active());
  EXPECT_EQ(s->Presence().HotPlug().Status(), "hot-plug: emulated bus");
  for (int phase = 0; phase < 11; ++phase) {
    host.RunFor(500 * uint64_t(phase) + 37);  // plugs land anywhere in the 5.5 s interval
    Unit u = Make(phase + 1);
    const int64_t ms = PlugToReady(*s, u, 5000);
    EXPECT_GE(ms, 0) << "phase " << phase;
    EXPECT_LE(ms, 200) << "phase " << phase;
    platform.Detach(u.rx.get());
    host.RunFor(400);
    EXPECT_FALSE(s->Presence().Ready().rx) << "an unplug is seen at once too";
  }
}

TEST_F(HotPlugTest, WithoutTheWordTheTimerFindsThePlugAsItAlwaysDid) {
  platform.SetHotPlugFails(true);
  source = platform.CreateHotPlugSource();
  StationEnvironment env = Environment();
  env.hotPlug = source.get();
  auto s = std::make_unique<Station>(env, view);
  std::vector<std::string> trace;
  s->Presenter().SetTraceSink([&trace](const std::string& line) { trace.push_back(line); });
  s->Presenter().FormCreate({});
  s->Presenter().FormActivate();
  // The engineer's trace says how devices are found.
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace[0],
            "-- hot-plug unavailable (the emulated bus gives no hot-plug word): detection every "
            "5.5 s");
  EXPECT_FALSE(s->Presence().HotPlug().Active());
  EXPECT_EQ(s->Presence().HotPlug().Status().rfind("hot-plug unavailable (", 0), 0u);
  int64_t longest = 0;
  for (int phase = 0; phase < 6; ++phase) {
    host.RunFor(900 * uint64_t(phase) + 11);
    Unit u = Make(phase + 1);
    const int64_t ms = PlugToReady(*s, u, 12000);
    ASSERT_GE(ms, 0) << "phase " << phase;
    // The next 5.5 s tick, plus the ready state's own exchanges.
    EXPECT_LE(ms, 5500 + 500) << "phase " << phase;
    longest = std::max(longest, ms);
    platform.Detach(u.rx.get());
    host.RunFor(5500);
  }
  EXPECT_GT(longest, 500);  // the timer's wait is what the word saves
}

TEST_F(HotPlugTest, ADongleSwappedWithinOneIntervalIsFoundByItsIdentity) {
  auto s = Start(true);
  Unit first = Make(1);
  ASSERT_GE(PlugToReady(*s, first, 1000), 0);
  Unit second = Make(2);
  // Same interfaces, same count: only identity tells them apart.
  platform.Detach(first.rx.get());
  host.RunFor(100);
  platform.Attach(second.rx);
  EXPECT_TRUE(host.RunUntil(
      [&] {
        return second.rx->ReportsReceived() > 0 && s->Presence().Ready().rx &&
               s->Presence().Ready().tx;
      },
      1000));
  // The handle the station holds is the new dongle's, and it answers.
  HidAttributes attributes;
  EXPECT_TRUE(platform.GetAttributes(s->Link().State().DeviceHandle, attributes));
}

TEST_F(HotPlugTest, ADongleSwappedAtOnceAfterGoReleasedTheLastIsFound) {
  auto s = Start(true);
  Unit first = Make(1);
  ASSERT_GE(PlugToReady(*s, first, 1000), 0);
  // Go's end: the RX is closed and the station waits for the next unit.
  s->Presence().EnterNotReady();
  s->Link().Close();
  platform.Detach(first.rx.get());
  host.RunFor(20);  // pulled and the next one plugged within one burst
  Unit second = Make(2);
  EXPECT_GE(PlugToReady(*s, second, 500), 0);
}

TEST_F(HotPlugTest, ABurstOfInterfacesGivesOneDetection) {
  auto s = Start(true);
  host.RunFor(1000);
  const int ticks = s->Presence().HotPlug().Ticks();
  // A composite device: five interfaces arrive within a few milliseconds.
  auto hub = std::make_shared<EmulatedForeignDevice>("composite", 0x1234, 0x5678, 0x0100,
                                                     std::vector<uint16_t>{0, 0, 9, 0, 65});
  hub->Unplug();
  platform.Attach(hub);
  hub->Plug();
  host.RunFor(1000);
  EXPECT_EQ(s->Presence().HotPlug().Ticks(), ticks + 1);
}

TEST_F(HotPlugTest, AfterConnectGivesUpTheStationComesBackWithoutAReplug) {
  auto s = Start(true);
  Unit u = Make(1);
  ASSERT_GE(PlugToReady(*s, u, 1000), 0);
  u.rx->InjectFault("answers-never-valid");
  s->Presenter().Click("btnCombo_Cmd_Soft_Bind_SW");
  EXPECT_FALSE(s->Presence().Ready().rx);
  u.rx->ClearFaults();
  // Nothing is plugged or pulled: the timer's next tick searches again.
  EXPECT_TRUE(
      host.RunUntil([&] { return s->Presence().Ready().rx && s->Presence().Ready().tx; }, 6500));

  // A bind that times out with the mouse off: the link check finds the mouse once it is on.
  u.tx->SetPowered(false, host.TickCount());
  host.RunFor(1500);
  s->Presenter().Click("btnCombo_Cmd_Soft_Bind_SW");
  host.RunFor(17000);
  EXPECT_FALSE(s->Presence().Ready().tx);
  u.tx->SetPowered(true, host.TickCount());
  EXPECT_TRUE(host.RunUntil([&] { return s->Presence().Ready().tx; }, 3000));
}

// udev sets a node's permissions after the kernel's word and then repeats the word: a node not
// yet openable waits for that copy (or for udev's time) before the operator hears of it, and
// the copy of an openable node's word starts nothing.
TEST_F(HotPlugTest, ANodeNotYetOpenableWaitsForUdevBeforeTheHint) {
  auto hints = [&] {
    return std::count_if(view.messages.begin(), view.messages.end(),
                         [](const std::string& m) { return m.find("may not open") != m.npos; });
  };
  auto s = Start(true);
  // udev opens the node up within its time: ready, and no hint.
  platform.SetOpenRefused(true);
  Unit u = Make(1);
  const uint64_t plug = host.TickCount();
  platform.Attach(u.rx);
  host.RunFor(60);
  EXPECT_FALSE(s->Presence().Ready().rx);
  platform.SetOpenRefused(false);
  platform.AnnounceAgain(*u.rx);
  ASSERT_TRUE(
      host.RunUntil([&] { return s->Presence().Ready().rx && s->Presence().Ready().tx; }, 1000));
  EXPECT_LE(host.TickCount() - plug, 250u);
  EXPECT_EQ(hints(), 0);
  // Its copy once more, with the RX ready: no detection, the RX left as it is.
  const int ticks = s->Presence().HotPlug().Ticks();
  const uint64_t opens = platform.OpenCalls();
  platform.AnnounceAgain(*u.rx);
  host.RunFor(300);
  EXPECT_EQ(s->Presence().HotPlug().Ticks(), ticks);
  EXPECT_EQ(platform.OpenCalls(), opens);
  EXPECT_TRUE(s->Presence().Ready().rx);
  // Another device arriving leaves the ready RX as it is too.
  auto keyboard = std::make_shared<EmulatedForeignDevice>("keyboard", 0x1234, 0x5678, 0x0100,
                                                          std::vector<uint16_t>{0, 0});
  platform.Attach(keyboard);
  host.RunFor(300);
  EXPECT_EQ(s->Presence().HotPlug().Ticks(), ticks + 1);
  EXPECT_EQ(platform.OpenCalls(), opens);
  EXPECT_TRUE(s->Presence().Ready().rx && s->Presence().Ready().tx);

  // A node that stays refused past udev's time: the hint, once, after that time.
  platform.Detach(u.rx.get());
  host.RunFor(400);
  platform.SetOpenRefused(true);
  Unit v = Make(2);
  platform.Attach(v.rx);
  host.RunFor(HotPlugTrigger::kUdevMs - 50);
  EXPECT_EQ(hints(), 0);
  host.RunFor(100);
  EXPECT_EQ(hints(), 1);
  host.RunFor(6000);
  EXPECT_EQ(hints(), 1);
}

TEST_F(HotPlugTest, EventsDuringGoWaitForItsEnd) {
  auto s = Start(true);
  Unit u = Make(1);
  ASSERT_GE(PlugToReady(*s, u, 1000), 0);
  s->Presence().Hold();
  Unit other = Make(2);
  platform.Attach(other.rx);
  host.RunFor(1000);
  EXPECT_TRUE(s->Link().HaveRx());  // the run's RX is left alone
  const int ticks = s->Presence().HotPlug().Ticks();
  s->Presence().Resume();
  host.RunFor(400);
  EXPECT_EQ(s->Presence().HotPlug().Ticks(), ticks + 1);

  // The same for a Set TX run started from the engineering page.
  s->Presence().Writing(true);
  platform.Detach(other.rx.get());
  host.RunFor(1000);
  EXPECT_EQ(s->Presence().HotPlug().Ticks(), ticks + 1);
  s->Presence().Writing(false);
  host.RunFor(400);
  EXPECT_EQ(s->Presence().HotPlug().Ticks(), ticks + 2);
}

#ifndef _WIN32
// The message loop's side of a descriptor watch, driven by the test.
class WatchingHost final : public Host {
 public:
  uint64_t TickCount() override { return 0; }
  void Sleep(uint32_t) override {}
  void ProcessMessages() override {}
  std::unique_ptr<HostTimer> CreateTimer() override { return nullptr; }
  std::unique_ptr<HostWatch> WatchReadable(intptr_t fd, std::function<void()> call) override {
    watched = fd;
    onReadable = std::move(call);
    return std::make_unique<HostWatch>();
  }
  intptr_t watched = -1;
  std::function<void()> onReadable;
};

TEST(UeventHotPlug, KernelAndUdevMessagesOfHidrawBecomeEventsAndOthersDoNot) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
  UeventHotPlugSource source([&] { return pair[0]; });
  WatchingHost host;
  std::vector<HotPlugEvent> events;
  const Status started = source.Start(host, [&](const HotPlugEvent& e) { events.push_back(e); });
  ASSERT_TRUE(started) << started.failure;
  EXPECT_EQ(host.watched, pair[0]);
  auto send = [&](const std::string& message) {
    ASSERT_EQ(::send(pair[1], message.data(), message.size(), 0), ssize_t(message.size()));
  };
  using namespace std::string_literals;
  send(
      "add@/devices/pci0000:00/usb1/1-2/1-2:1.2/0003:1BCF:053A.0007/hidraw/hidraw3\0"
      "ACTION=add\0DEVPATH=/devices/.../hidraw3\0SUBSYSTEM=hidraw\0DEVNAME=hidraw3\0SEQNUM=4711\0"s);
  send("add@/devices/.../input/input9\0ACTION=add\0SUBSYSTEM=input\0SEQNUM=4712\0"s);
  // udev's form: its header, then the properties at the offset the header names.
  std::string props = "ACTION=remove\0SUBSYSTEM=hidraw\0DEVNAME=/dev/hidraw3\0"s;
  std::string udev = "libudev\0"s;
  const uint32_t header[4] = {0xfeedcafe, 40, 40, uint32_t(props.size())};
  udev.append(reinterpret_cast<const char*>(header), sizeof header);
  udev.resize(40, '\0');
  send(udev + props);
  send("garbage without any fields");
  host.onReadable();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, HotPlugEvent::Kind::Arrived);
  EXPECT_EQ(events[0].path, "/dev/hidraw3");
  EXPECT_EQ(events[1].kind, HotPlugEvent::Kind::Left);
  EXPECT_EQ(events[1].path, "/dev/hidraw3");
  ::close(pair[1]);
}

TEST(UeventHotPlug, ASocketThatCannotBeOpenedSaysWhyAndTheRealOneOpensOrFailsCleanly) {
  UeventHotPlugSource refused([] {
    errno = EPROTONOSUPPORT;
    return -1;
  });
  WatchingHost host;
  const Status failed = refused.Start(host, [](const HotPlugEvent&) {});
  EXPECT_FALSE(failed);
  EXPECT_EQ(failed.osError, EPROTONOSUPPORT);
  EXPECT_NE(failed.failure.English().find("errno " + std::to_string(EPROTONOSUPPORT)),
            std::string::npos)
      << failed.failure;

  // The kernel's socket: in a container it may be refused; either way no crash, no leak.
  auto real = CreateSystemHotPlugSource();
  const Status started = real->Start(host, [](const HotPlugEvent&) {});
  EXPECT_TRUE(started || !started.failure.empty());
  if (started) host.onReadable();  // nothing waiting: returns at once
}
#else
TEST(WindowsHotPlug, RegistrationSucceedsOrSaysWhy) {
  VirtualHost host;
  auto source = CreateSystemHotPlugSource();
  const Status started = source->Start(host, [](const HotPlugEvent&) {});
  const std::string said = started.failure.English();
  std::printf("hot-plug registration: %s\n", started ? "registered" : said.c_str());
  if (!started) {
    EXPECT_NE(said.find("CM_Register_Notification"), std::string::npos) << said;
  }
}
#endif

}  // namespace
}  // namespace korvel
