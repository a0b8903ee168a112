#include "production/ProdRFID.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <random>

namespace korvel {

namespace {
constexpr std::array<uint8_t, 8> kReserved{0x00, 0x0F, 0x55, 0x5A, 0xA5, 0xAA, 0xF0, 0xFF};
constexpr std::array<uint8_t, 6> kSubstituted{0x11, 0x15, 0x19, 0x1C, 0x21, 0x29};

bool Reserved(uint32_t b) {
  for (uint8_t r : kReserved)
    if (b == r) return true;
  return false;
}

class CounterSeeded final : public RandomSource {
 public:
  void Reseed() override {
    engine_.seed(static_cast<uint32_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
  }
  uint32_t Draw24() override {
    return std::uniform_int_distribution<uint32_t>(0, kLinkIdMask)(engine_);
  }

 private:
  std::mt19937 engine_;
};
}  // namespace

std::shared_ptr<RandomSource> CounterSeededRandom() {
  return std::make_shared<CounterSeeded>();
}

bool IsAcceptableLinkId(uint32_t id) {
  return !Reserved(((id >> 16) & 0xFF) | 0x80) && !Reserved((id >> 8) & 0xFF) &&
         !Reserved(id & 0xFF);
}

uint32_t SubstituteHighByte(uint32_t id) {
  const uint32_t high = (id >> 16) & 0xFF;
  for (uint8_t s : kSubstituted)
    if (high == s) return id + 0x10000;
  return id;
}

uint32_t TxLinkIdFor(uint32_t a, uint32_t b) {
  if (a != b) return b;
  uint32_t id = a;
  do {
    do id = (id + 1) & kLinkIdMask;
    while (!IsAcceptableLinkId(id));
  } while (SubstituteHighByte(id) == a);
  return SubstituteHighByte(id);
}

TProdRFID::TProdRFID(BlankTag) : random_(CounterSeededRandom()) {}

TProdRFID::TProdRFID() : random_(CounterSeededRandom()) {
  SetIsRandom(true);
}

TProdRFID TProdRFID::Blank() {
  return TProdRFID(BlankTag{});
}

void TProdRFID::SetIncInitRFID(int32_t v) {
  incInit_ = v;
  incPrev_ = int32_t(uint32_t(v) - 1u);
}

void TProdRFID::SetIncCurrentRFID(int32_t v) {
  incCurrent_ = v;
  incPrev_ = v;
}

int32_t TProdRFID::GetNextRFID() const {
  uint32_t id;
  if (isRandom_) {
    random_->Reseed();
    do id = random_->Draw24() & kLinkIdMask;
    while (!IsAcceptableLinkId(id));
  } else {
    // 64-bit so the climb from the largest counter does not overflow. A negative counter
    // (hand-edited file) has no acceptable candidates below 0: start the climb at 0.
    int64_t c = std::max<int64_t>(incPrev_, -1);
    do {
      ++c;
      id = uint32_t(c % 0x1000000);
    } while (!IsAcceptableLinkId(id));
  }
  return int32_t(SubstituteHighByte(id));
}

void TProdRFID::Commit(int32_t idWritten) {
  if (!isRandom_) SetIncCurrentRFID(idWritten);
}

const ComponentClass& TProdRFID::ClassInfo() {
  static const ComponentClass cls = [] {
    auto id = [](TPersistentComponent& c) -> TProdRFID& { return static_cast<TProdRFID&>(c); };
    auto cid = [](const TPersistentComponent& c) -> const TProdRFID& {
      return static_cast<const TProdRFID&>(c);
    };
    ComponentClass c;
    c.name = "TProdRFID";
    c.createBlank = [] { return std::make_unique<TProdRFID>(TProdRFID::Blank()); };
    c.properties = {
        {"IsRandom", PropertyKind::Boolean, [=](auto& o) { return int64_t(cid(o).IsRandom()); },
         [=](auto& o, int64_t v) { id(o).SetIsRandom(v != 0); }},
        {"IncInitRFID", PropertyKind::Int32, [=](auto& o) { return int64_t(cid(o).IncInitRFID()); },
         [=](auto& o, int64_t v) { id(o).SetIncInitRFID(int32_t(v)); }},
        {"IncPrevRFID", PropertyKind::Int32, [=](auto& o) { return int64_t(cid(o).IncPrevRFID()); },
         [=](auto& o, int64_t v) { id(o).SetIncPrevRFID(int32_t(v)); }},
        // A saved 0 means no unit has passed yet (0 is never a valid ID): it must not
        // throw away the start value the earlier properties set.
        {"IncCurrentRFID", PropertyKind::Int32,
         [=](auto& o) { return int64_t(cid(o).IncCurrentRFID()); },
         [=](auto& o, int64_t v) {
           if (v != 0) id(o).SetIncCurrentRFID(int32_t(v));
         }},
    };
    return c;
  }();
  return cls;
}

}  // namespace korvel
