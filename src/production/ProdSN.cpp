#include "production/ProdSN.h"

#include <cstdio>
#include <vector>

namespace korvel {

namespace {
// Two's-complement arithmetic without signed overflow.
int64_t WrapAdd(int64_t a, int64_t b) {
  return int64_t(uint64_t(a) + uint64_t(b));
}

void PushBytes(std::vector<uint8_t>& out, uint64_t v, int count) {
  for (int j = 0; j < count; ++j)
    out.push_back(uint8_t(count - 1 - j >= 8 ? 0 : v >> (8 * (count - 1 - j))));
}
}  // namespace

TProdSN::TProdSN(BlankTag) {}

TProdSN::TProdSN() {
  SetIsSN(false);
  SetIsDate(true);
  SetFixSNByteCount(2);
  SetIncSNByteCount(2);
  SetFixSN(0);
  SetIsFixAscii(true);
  SetIncInitSN(0);
}

TProdSN TProdSN::Blank() {
  return TProdSN(BlankTag{});
}

void TProdSN::SetIsDate(bool v) {
  if (v == isDate_) return;
  isDate_ = v;
  if (v) {
    // The date takes its two bytes from the fixed part first.
    if (fixCount_ >= 2)
      SetFixSNByteCount(fixCount_ - 2);
    else
      SetIncSNByteCount(incCount_ - 2);
  } else {
    SetFixSNByteCount(fixCount_ + 2);
  }
}

void TProdSN::SetFixSNByteCount(int32_t v) {
  if (!CountAllowed(v)) return;
  fixCount_ = v;
  incCount_ = Total() - v;
}

void TProdSN::SetIncSNByteCount(int32_t v) {
  if (!CountAllowed(v)) return;
  incCount_ = v;
  fixCount_ = Total() - v;
}

void TProdSN::SetIncInitSN(int64_t v) {
  incInit_ = v;
  incPrev_ = WrapAdd(v, -1);
}

void TProdSN::SetIncCurrentSN(int64_t v) {
  incCurrent_ = v;
  incPrev_ = v;
}

int64_t TProdSN::GetIncNextSN() const {
  if (incCount_ <= 0) return 0;
  const int64_t next = WrapAdd(incPrev_, 1);
  if (incCount_ >= 8) return next;
  const int64_t modulus = int64_t(1) << (8 * incCount_);
  return next % modulus;  // signed remainder, as the saved files expect
}

uint16_t TProdSN::DateWord(const LocalDate& date) {
  return uint16_t(((date.year % 100) << 9) | (DayOfYear(date) & 0x1FF));
}

uint8_t TProdSN::GetSNByte(int index) const {
  std::vector<uint8_t> bytes;
  if (isDate_) PushBytes(bytes, DateWord(date_()), 2);
  PushBytes(bytes, uint64_t(fixSN_), std::max(fixCount_, 0));
  PushBytes(bytes, uint64_t(GetIncNextSN()), std::max(incCount_, 0));
  // Counts that do not add up (a hand-edited file) read as zeros, never past the end.
  return index >= 0 && size_t(index) < bytes.size() ? bytes[size_t(index)] : 0;
}

std::string TProdSN::GetSNText() const {
  if (!isSN_) return "";
  const int dateBytes = isDate_ ? 2 : 0;
  std::string text;
  for (int i = 0; i < 6; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", GetSNByte(i));
    text += hex;
    const bool endOfDate = isDate_ && i == 1;
    const bool endOfFixed = i == dateBytes + fixCount_ - 1;
    if (i >= 1 && i <= 4 && (endOfDate || endOfFixed)) text += '-';
  }
  return text;
}

std::string TProdSN::GetDateText() const {
  if (!isDate_) return "";
  const LocalDate d = date_();
  char text[16];
  std::snprintf(text, sizeof text, "%04d.%02d.%02d", d.year, d.month, d.day);
  return text;
}

std::string TProdSN::GetFixSNText() const {
  if (fixCount_ <= 0) return "";
  if (isFixAscii_) {
    std::vector<uint8_t> bytes;
    PushBytes(bytes, uint64_t(fixSN_), fixCount_);
    return std::string(bytes.begin(), bytes.end());
  }
  // The bytes the serial uses: a wider value gives its low ones.
  std::string text;
  std::vector<uint8_t> bytes;
  PushBytes(bytes, uint64_t(fixSN_), fixCount_);
  for (uint8_t b : bytes) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", b);
    text += hex;
  }
  return text;
}

void TProdSN::Commit() {
  if (isSN_ && incCount_ > 0) SetIncCurrentSN(GetIncNextSN());
}

const ComponentClass& TProdSN::ClassInfo() {
  static const ComponentClass cls = [] {
    auto sn = [](TPersistentComponent& c) -> TProdSN& { return static_cast<TProdSN&>(c); };
    auto csn = [](const TPersistentComponent& c) -> const TProdSN& {
      return static_cast<const TProdSN&>(c);
    };
    ComponentClass c;
    c.name = "TProdSN";
    c.createBlank = [] { return std::make_unique<TProdSN>(TProdSN::Blank()); };
    c.properties = {
        {"IsSN", PropertyKind::Boolean, [=](auto& o) { return int64_t(csn(o).IsSN()); },
         [=](auto& o, int64_t v) { sn(o).SetIsSN(v != 0); }},
        {"IsDate", PropertyKind::Boolean, [=](auto& o) { return int64_t(csn(o).IsDate()); },
         [=](auto& o, int64_t v) { sn(o).SetIsDate(v != 0); }},
        {"FixSNByteCount", PropertyKind::Int32,
         [=](auto& o) { return int64_t(csn(o).FixSNByteCount()); },
         [=](auto& o, int64_t v) { sn(o).SetFixSNByteCount(int32_t(v)); }},
        {"FixSN", PropertyKind::Int64, [=](auto& o) { return csn(o).FixSN(); },
         [=](auto& o, int64_t v) { sn(o).SetFixSN(v); }},
        {"IncSNByteCount", PropertyKind::Int32,
         [=](auto& o) { return int64_t(csn(o).IncSNByteCount()); },
         [=](auto& o, int64_t v) { sn(o).SetIncSNByteCount(int32_t(v)); }},
        {"IncInitSN", PropertyKind::Int64, [=](auto& o) { return csn(o).IncInitSN(); },
         [=](auto& o, int64_t v) { sn(o).SetIncInitSN(v); }},
        {"IncPrevSN", PropertyKind::Int64, [=](auto& o) { return csn(o).IncPrevSN(); },
         [=](auto& o, int64_t v) { sn(o).SetIncPrevSN(v); }},
        {"IncCurrentSN", PropertyKind::Int64, [=](auto& o) { return csn(o).IncCurrentSN(); },
         [=](auto& o, int64_t v) { sn(o).SetIncCurrentSN(v); }},
        {"IsFixAscii", PropertyKind::Boolean, [=](auto& o) { return int64_t(csn(o).IsFixAscii()); },
         [=](auto& o, int64_t v) { sn(o).SetIsFixAscii(v != 0); }},
    };
    return c;
  }();
  return cls;
}

}  // namespace korvel
