// Reads a HID report descriptor far enough to know its feature report length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace korvel {

// Longest feature report in bytes, counting the report ID byte as Windows'
// FeatureReportByteLength does (even for a descriptor without report IDs); 0 when the
// descriptor has no feature report. nullopt for a malformed descriptor (truncated item,
// Pop on an empty stack, a report too long to be real).
std::optional<uint16_t> FeatureReportByteLength(const uint8_t* descriptor, size_t size);

}  // namespace korvel
