// A dongle with a powered mouse on the emulated bus, opened and adopted by an RxLink.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "EmulatedHid.h"
#include "EmulatedRx.h"
#include "VirtualHost.h"
#include "device/RxLink.h"

namespace korvel::test {

class EmulatedLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rx->SetTx(tx);
    tx->SetPowered(true, host.TickCount());
    platform.Attach(rx);
    uint32_t version = 0;
    intptr_t handle = kNoHandle;
    ASSERT_TRUE(link.Hid().OpenDeviceByVidPid(0x1BCF, 0x053A, version, handle));
    link.Adopt(handle, {0x1BCF, 0x053A}, version);
  }

  VirtualHost host;
  EmulatedHidPlatform platform{host};
  std::shared_ptr<EmulatedRx> rx = std::make_shared<EmulatedRx>(host);
  std::shared_ptr<EmulatedTx> tx = std::make_shared<EmulatedTx>();
  RxLink link{platform, host};
};

}  // namespace korvel::test
