#include "device/HidDescriptor.h"

#include <algorithm>
#include <map>
#include <vector>

namespace korvel {

namespace {
struct Globals {
  uint32_t reportSize = 0;
  uint32_t reportCount = 0;
  uint32_t reportId = 0;
};

constexpr uint8_t kTypeMain = 0, kTypeGlobal = 1;
constexpr uint8_t kTagFeature = 0xB;
constexpr uint8_t kTagReportSize = 0x7, kTagReportId = 0x8, kTagReportCount = 0x9;
constexpr uint8_t kTagPush = 0xA, kTagPop = 0xB;
constexpr uint64_t kMaxReportBits = 8ull * 0xFFFE;
}  // namespace

std::optional<uint16_t> FeatureReportByteLength(const uint8_t* d, size_t size) {
  Globals g;
  std::vector<Globals> stack;
  std::map<uint32_t, uint64_t> featureBits;  // per report ID
  size_t i = 0;
  while (i < size) {
    const uint8_t prefix = d[i];
    if (prefix == 0xFE) {  // long item: size, tag, data
      if (i + 2 >= size) return std::nullopt;
      const size_t dataSize = d[i + 1];
      if (i + 3 + dataSize > size) return std::nullopt;
      i += 3 + dataSize;
      continue;
    }
    const size_t dataSize = (prefix & 3) == 3 ? 4 : (prefix & 3);
    if (i + 1 + dataSize > size) return std::nullopt;
    uint32_t value = 0;
    for (size_t k = 0; k < dataSize; ++k) value |= uint32_t(d[i + 1 + k]) << (8 * k);
    const uint8_t type = (prefix >> 2) & 3;
    const uint8_t tag = prefix >> 4;
    if (type == kTypeGlobal) {
      switch (tag) {
        case kTagReportSize:
          g.reportSize = value;
          break;
        case kTagReportCount:
          g.reportCount = value;
          break;
        case kTagReportId:
          g.reportId = value;
          break;
        case kTagPush:
          stack.push_back(g);
          break;
        case kTagPop:
          if (stack.empty()) return std::nullopt;
          g = stack.back();
          stack.pop_back();
          break;
        default:
          break;
      }
    } else if (type == kTypeMain && tag == kTagFeature) {
      uint64_t& bits = featureBits[g.reportId];
      bits += uint64_t(g.reportSize) * g.reportCount;
      if (bits > kMaxReportBits) return std::nullopt;
    }
    i += 1 + dataSize;
  }
  uint64_t longest = 0;
  for (const auto& [id, bits] : featureBits) longest = std::max(longest, bits);
  if (longest == 0) return uint16_t{0};
  return static_cast<uint16_t>((longest + 7) / 8 + 1);
}

}  // namespace korvel
