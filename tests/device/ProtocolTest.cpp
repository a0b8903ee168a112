// The command table against the dongle the tests run on: every code the table says answers
// gets a valid answer, every other code (reserved ones, codes that are no command) gets none.
#include <gtest/gtest.h>

#include <set>

#include "EmulatedBench.h"
#include "device/Protocol.h"

namespace korvel {
namespace {

TEST(Protocol, TheEmulatorsDecoderAnswersWhatTheTableSaysAndNothingElse) {
  std::set<uint8_t> codes;
  for (const CommandEntry& c : CommandTable()) {
    EXPECT_TRUE(codes.insert(c.code).second) << "code listed twice: " << int(c.code);
    EXPECT_EQ(c.relayed, c.code >= 0x21) << c.name;
    EXPECT_EQ(c.exchange == Exchange::Set, c.answer == AnswerLayout::None) << c.name;
    EXPECT_FALSE(c.reserved && c.exchange != Exchange::Set) << c.name;
  }
  test::EmulatedBench b(false);
  b.tx->SetPowered(true, b.host.TickCount());
  ASSERT_TRUE(b.OpenRx());
  b.host.Sleep(1000);  // the mouse is on the air
  for (int code = 0; code < 0x40; ++code) {
    const CommandEntry* entry = FindCommand(uint8_t(code));
    SCOPED_TRACE(entry ? entry->name : "no command " + std::to_string(code));
    // A harmless request of each kind: reads at address 0x10, writes of 0x5A there.
    ReportBuffer request{1, uint8_t(code), 0x10, 0x5A, 0, 0, 0, 0, 0};
    if (entry && entry->relayed) request = {1, uint8_t(code), 0xAA, 0x10, 0x5A, 0, 0, 0, 0};
    ReportBuffer answer = request;
    ASSERT_TRUE(b.hid.SendFeature(b.state.DeviceHandle, request));
    b.host.Sleep(400);  // long enough for any answer, relayed ones included
    ASSERT_TRUE(b.hid.ReceiveFeature(b.state.DeviceHandle, answer));
    const bool answered = answer[7] == 0xCC;
    EXPECT_EQ(answered, entry && entry->exchange == Exchange::SetAndGet);
    if (entry && entry->answer == AnswerLayout::EepromConfirm) {
      EXPECT_EQ(answer[4], code);
      EXPECT_EQ(answer[5], 0x10);
    }
  }
}

}  // namespace
}  // namespace korvel
