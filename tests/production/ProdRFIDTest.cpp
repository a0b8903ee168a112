#include <gtest/gtest.h>

#include <deque>

#include "production/NumberingLedger.h"
#include "production/ProdRFID.h"

namespace korvel {
namespace {

TProdRFID Custom(int32_t prev) {
  TProdRFID g;
  g.SetIsRandom(false);
  g.SetIncPrevRFID(prev);
  return g;
}

TEST(ProdRFID, CustomSequenceSkipsReservedBytes) {
  TProdRFID g;
  EXPECT_TRUE(g.IsRandom());
  g.SetIsRandom(false);
  EXPECT_EQ(g.NextRFID(), 0x000101);
  g.SetIncInitRFID(0x000100);
  EXPECT_EQ(g.IncPrevRFID(), 0x0000FF);
  EXPECT_EQ(g.NextRFID(), 0x000101);
  EXPECT_EQ(Custom(0x1001FE).NextRFID(), 0x100201);
  EXPECT_EQ(Custom(0x24FFFF).NextRFID(), 0x260101);  // 0x25 | 0x80 = 0xA5
  EXPECT_EQ(Custom(0xFFFFFF).NextRFID(), 0x000101);  // wraps
  const TProdRFID same = Custom(0x123455);
  EXPECT_EQ(same.NextRFID(), same.NextRFID());
}

TEST(ProdRFID, SubstitutedHighBytesAreNotCheckedAgain) {
  EXPECT_EQ(Custom(0x10FFFF).NextRFID(), 0x120101);
  EXPECT_EQ(Custom(0x2900FF).NextRFID(), 0x2A0101);
}

TEST(ProdRFID, CommitMovesTheCustomCounterOnly) {
  TProdRFID g = Custom(0);
  g.Commit(0x123456);
  EXPECT_EQ(g.NextRFID(), 0x123457);
  TProdRFID r;
  r.Commit(0x123456);
  EXPECT_EQ(r.IncCurrentRFID(), 0);
}

class ScriptedRandom : public RandomSource {
 public:
  explicit ScriptedRandom(std::deque<uint32_t> values) : values_(std::move(values)) {}
  void Reseed() override { ++reseeds; }
  uint32_t Draw24() override {
    if (values_.empty()) {
      ADD_FAILURE() << "drew more values than scripted";
      return 0x123456;
    }
    const uint32_t v = values_.front();
    values_.pop_front();
    return v;
  }
  int reseeds = 0;

 private:
  std::deque<uint32_t> values_;
};

TEST(ProdRFID, RandomModeReseedsDrawsUntilAcceptableAndSubstitutes) {
  TProdRFID g;
  auto source = std::make_shared<ScriptedRandom>(
      std::deque<uint32_t>{0x250101, 0x1234FF, 0x113344, 0x446677});
  g.SetRandomSource(source);
  EXPECT_EQ(g.NextRFID(), 0x123344);
  EXPECT_EQ(source->reseeds, 1);
  EXPECT_EQ(g.NextRFID(), 0x446677);
  EXPECT_EQ(source->reseeds, 2);
  // The real source only ever gives acceptable IDs.
  TProdRFID real;
  for (int i = 0; i < 200; ++i) {
    const uint32_t id = uint32_t(real.NextRFID());
    EXPECT_LE(id, kLinkIdMask);
    EXPECT_TRUE(IsAcceptableLinkId(id) || IsAcceptableLinkId(id - 0x10000)) << std::hex << id;
  }
}

TEST(ProdRFID, TxSideIdAfterAClash) {
  EXPECT_EQ(TxLinkIdFor(0x123456, 0x200101), 0x200101u);
  EXPECT_EQ(TxLinkIdFor(0x123456, 0x123456), 0x123457u);
  EXPECT_EQ(TxLinkIdFor(0x1234FE, 0x1234FE), 0x123501u);  // 0x1234FF holds 0xFF
  EXPECT_EQ(TxLinkIdFor(0x12FEFE, 0x12FEFE), 0x130101u);  // across two byte boundaries
  EXPECT_EQ(TxLinkIdFor(0x7EFEFE, 0x7EFEFE), 0x800101u);  // 0x7F.. is 0xFF as written
  EXPECT_EQ(TxLinkIdFor(0xFEFEFE, 0xFEFEFE), 0x000101u);  // and round the top
}

TEST(ProdRFID, RestoreKeepsTheStartWhenNoUnitHasPassed) {
  RegisterGeneratorClasses();
  auto restore = [](const std::string& body) {
    auto r = TextToComponent("object TProdRFID\r\n" + body + "end\r\n");
    EXPECT_TRUE(r.object) << r.error;
    return dynamic_cast<const TProdRFID&>(*r.object);
  };
  const TProdRFID passed = restore(
      "  IsRandom = False\r\n  IncInitRFID = 2097152\r\n  IncPrevRFID = 2097151\r\n  "
      "IncCurrentRFID = 257\r\n");
  EXPECT_EQ(passed.IncPrevRFID(), 0x000101);
  EXPECT_EQ(passed.NextRFID(), 0x000102);
  // Saved IncCurrentRFID 0: the operator's start 0x300000 survives a restart.
  const TProdRFID fresh = restore(
      "  IsRandom = False\r\n  IncInitRFID = 3145728\r\n  IncPrevRFID = 3145727\r\n  "
      "IncCurrentRFID = 0\r\n");
  EXPECT_EQ(fresh.IncPrevRFID(), 0x2FFFFF);
  EXPECT_EQ(fresh.NextRFID(), 0x300101);
}

TEST(ProdRFID, HandEditedCountersStillEnd) {
  EXPECT_EQ(Custom(-5).NextRFID(), 0x000101);
  EXPECT_EQ(Custom(std::numeric_limits<int32_t>::min()).NextRFID(), 0x000101);
  EXPECT_EQ(Custom(std::numeric_limits<int32_t>::max()).NextRFID(),
            0x000101);  // climbs past 2^31 without overflow
}

}  // namespace
}  // namespace korvel
