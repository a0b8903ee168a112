// Link-ID generator: 24-bit IDs, random or from a custom ascending sequence, never holding a
// byte value the radio reserves.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "config/CompStream.h"

namespace korvel {

// Uniform 24-bit values; reseeded before every random ID is drawn.
class RandomSource {
 public:
  virtual ~RandomSource() = default;
  virtual void Reseed() = 0;
  virtual uint32_t Draw24() = 0;
};
// Reseeds from the high-resolution counter, as the tool always has.
std::shared_ptr<RandomSource> CounterSeededRandom();

constexpr uint32_t kLinkIdMask = 0xFFFFFF;
// None of the three bytes, the high one with bit 7 set as written, is reserved.
bool IsAcceptableLinkId(uint32_t id);
// Six raw high bytes move up by one (lower bytes kept); the result is not checked again.
uint32_t SubstituteHighByte(uint32_t id);
// The TX-side ID of a unit: b, or when it equals a, the ID after a as a generator gives its
// IDs: the next acceptable one, then the high-byte substitution. One rule for every ID the
// tool writes (the substituted high bytes are the radio's own, written as they are).
uint32_t TxLinkIdFor(uint32_t a, uint32_t b);

class TProdRFID final : public TPersistentComponent {
 public:
  TProdRFID();  // Create: IsRandom on
  static TProdRFID Blank();
  static const ComponentClass& ClassInfo();
  const ComponentClass& Class() const override { return ClassInfo(); }

  bool IsRandom() const { return isRandom_; }
  int32_t IncInitRFID() const { return incInit_; }
  int32_t IncPrevRFID() const { return incPrev_; }
  int32_t IncCurrentRFID() const { return incCurrent_; }

  void SetIsRandom(bool v) { isRandom_ = v; }
  void SetIncInitRFID(int32_t v);
  void SetIncPrevRFID(int32_t v) { incPrev_ = v; }
  void SetIncCurrentRFID(int32_t v);

  // Changes no stored state; in random mode a fresh ID each call.
  int32_t GetNextRFID() const;
  int32_t NextRFID() const { return GetNextRFID(); }

  // After a passed unit: custom mode remembers the ID written.
  void Commit(int32_t idWritten);

  void SetRandomSource(std::shared_ptr<RandomSource> source) { random_ = std::move(source); }

 private:
  struct BlankTag {};
  explicit TProdRFID(BlankTag);

  bool isRandom_ = false;
  int32_t incInit_ = 0;
  int32_t incPrev_ = 0;
  int32_t incCurrent_ = 0;
  std::shared_ptr<RandomSource> random_;
};

}  // namespace korvel
