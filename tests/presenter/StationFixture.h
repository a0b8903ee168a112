// The station with a recording view on the virtual host and the emulated HID bus.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "EmulatedHid.h"
#include "TempDir.h"
#include "VirtualHost.h"
#include "station/Station.h"
#include "ui/ScriptedView.h"

namespace korvel {

class StationTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCurrentLanguage(lkEng); }
  StationEnvironment Environment() { return Environment(platform); }
  StationEnvironment Environment(HidPlatform& bus) {
    return {.host = host,
            .hid = bus,
            .languageStore = store,
            .workingDirectory = dir.path,
            .randomSeed = 7};
  }
  std::unique_ptr<Station> Make() {
    auto s = std::make_unique<Station>(Environment(), view);
    hid = std::make_unique<HidAccess>(platform, host);
    return s;
  }
  void Unlock(Station& s) {
    view.passwords = {std::string(kPassPhrase)};
    for (int i = 0; i < 5; ++i) s.Presenter().imgLogoDblClick();
  }
  test::TempDir dir;
  VirtualHost host;
  EmulatedHidPlatform platform{host};
  MemoryLanguageStore store;
  ScriptedView view;
  std::unique_ptr<HidAccess> hid;
};

}  // namespace korvel
