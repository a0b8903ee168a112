// Figures for the HID layer: a detection scan over 50 interfaces (emulated and hidraw
// fixture) and one register read on the emulator in real time. Reports, never asserts.
#include <benchmark/benchmark.h>

#include "EmulatedHid.h"
#include "EmulatedRx.h"
#include "SysfsFixture.h"
#include "VirtualHost.h"
#include "device/CommandChannel.h"
#include "device/HidAccess.h"
#include "device/HidLinux.h"
#include "platform/SystemHost.h"

namespace {

using namespace korvel;

void Attach50(EmulatedHidPlatform& platform, Host& host) {
  platform.Attach(std::make_shared<EmulatedForeignDevice>("hub", 0x0451, 0x2046, 0x0100,
                                                          std::vector<uint16_t>(47, 0)));
  platform.Attach(std::make_shared<EmulatedRx>(host));
}

void BM_CountHidDevices_Emulated50(benchmark::State& state) {
  VirtualHost host;
  EmulatedHidPlatform platform(host);
  Attach50(platform, host);
  HidAccess hid(platform, host);
  for (auto _ : state) benchmark::DoNotOptimize(hid.CountHidDevices());
  state.counters["interfaces"] = hid.CountHidDevices();
}
BENCHMARK(BM_CountHidDevices_Emulated50);

void BM_CountHidDevices_Sysfs50(benchmark::State& state) {
  test::SysfsFixture fx;
  for (int n = 0; n < 50; ++n) {
    const bool vendor = n % 3 == 2;
    fx.AddNode(n, vendor ? 0x1BCF : 0x046D, vendor ? 0x053A : 0xC52B, 0x0100,
               vendor ? test::kVendorDescriptor : test::kMouseDescriptor, n / 3 + 1, n % 3);
  }
  HidLinux platform(fx.SysfsRoot(), fx.DevRoot());
  VirtualHost host;
  HidAccess hid(platform, host);
  for (auto _ : state) benchmark::DoNotOptimize(hid.CountHidDevices());
  state.counters["interfaces"] = hid.CountHidDevices();
}
BENCHMARK(BM_CountHidDevices_Sysfs50);

void BM_OpenDeviceByVidPid_Emulated50(benchmark::State& state) {
  VirtualHost host;
  EmulatedHidPlatform platform(host);
  Attach50(platform, host);
  HidAccess hid(platform, host);
  for (auto _ : state) {
    uint32_t version = 0;
    intptr_t handle = kNoHandle;
    benchmark::DoNotOptimize(hid.OpenDeviceByVidPid(0x1BCF, 0x053A, version, handle));
    hid.CloseDevice(handle);
  }
}
BENCHMARK(BM_OpenDeviceByVidPid_Emulated50);

// Real waits: 1 ms on the bus for each of the two transfers plus the 8 ms preparation.
void BM_ReadRegister_RealTime(benchmark::State& state) {
  SystemHost host;
  EmulatedHidPlatform platform(host);
  platform.Attach(std::make_shared<EmulatedRx>(host));
  HidAccess hid(platform, host);
  DeviceState device;
  CommandChannel channel(hid, host, device);
  hid.OpenDeviceByVidPid(0x1BCF, 0x053A, device.RxVersion, device.DeviceHandle);
  device.ActiveVid = 0x1BCF;
  device.ActivePid = 0x053A;
  for (auto _ : state) benchmark::DoNotOptimize(channel.ReadRegister(15));
  if (device.CommandFailed) state.SkipWithError("read failed");
}
BENCHMARK(BM_ReadRegister_RealTime)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace

BENCHMARK_MAIN();
