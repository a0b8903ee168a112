// The station with a recording view on the virtual host and the emulated HID bus.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "EmulatedHid.h"
#include "TempDir.h"
#include "VirtualHost.h"
#include "connection/Station.h"

namespace korvel {

class FakeView : public StationView {
 public:
  void Render(const ViewState&) override { ++renders; }
  void ShowMessage(const std::string& dialog, const std::string&,
                   const std::string& text) override {
    messages.push_back(dialog + ":" + text);
  }
  std::optional<std::string> AskPassword() override {
    ++passwordPrompts;
    if (passwords.empty()) return std::nullopt;
    auto p = passwords.front();
    passwords.pop_front();
    return p;
  }
  int AskLanguage(int preselected) override {
    languagePrompts.push_back(preselected);
    return languageAnswer;
  }
  int ScreenWidth() override { return 1920; }
  int ScreenHeight() override { return 1080; }

  int renders = 0;
  int passwordPrompts = 0;
  std::deque<std::optional<std::string>> passwords;
  std::vector<std::string> messages;
  std::vector<int> languagePrompts;
  int languageAnswer = 0;
};

class MemoryStore : public LanguageStore {
 public:
  std::optional<std::string> Read() override { return value; }
  bool Write(const std::string& v) override {
    value = v;
    return true;
  }
  void Forget() override { value.reset(); }
  std::optional<std::string> value = std::string("lkEng");
};

class StationTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCurrentLanguage(lkEng); }
  std::unique_ptr<Station> Make() {
    auto s = std::make_unique<Station>(
        StationEnvironment{host, platform, store, dir.path, nullptr, 7}, view);
    hid = std::make_unique<HidAccess>(platform, host);
    return s;
  }
  void Unlock(Station& s) {
    view.passwords = {std::string(kPassPhrase)};
    for (int i = 0; i < 5; ++i) s.imgLogoDblClick();
  }
  test::TempDir dir;
  VirtualHost host;
  EmulatedHidPlatform platform{host};
  MemoryStore store;
  FakeView view;
  std::unique_ptr<HidAccess> hid;
};

}  // namespace korvel
