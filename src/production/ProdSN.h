// Serial-number generator: date word, fixed part and incrementing part in six bytes.
#pragma once

#include <cstdint>
#include <string>

#include "config/CompStream.h"
#include "production/LocalDate.h"

namespace korvel {

class TProdSN final : public TPersistentComponent {
 public:
  // Create: the defaults applied through the setters.
  TProdSN();
  // Every field zero or false, as a restore starts from.
  static TProdSN Blank();
  static const ComponentClass& ClassInfo();
  const ComponentClass& Class() const override { return ClassInfo(); }

  bool IsSN() const { return isSN_; }
  bool IsDate() const { return isDate_; }
  int32_t FixSNByteCount() const { return fixCount_; }
  int64_t FixSN() const { return fixSN_; }
  int32_t IncSNByteCount() const { return incCount_; }
  int64_t IncInitSN() const { return incInit_; }
  int64_t IncPrevSN() const { return incPrev_; }
  int64_t IncCurrentSN() const { return incCurrent_; }
  int64_t IncNextSN() const { return GetIncNextSN(); }
  bool IsFixAscii() const { return isFixAscii_; }

  void SetIsSN(bool v) { isSN_ = v; }
  void SetIsDate(bool v);
  void SetFixSNByteCount(int32_t v);
  void SetFixSN(int64_t v) { fixSN_ = v; }
  void SetIncSNByteCount(int32_t v);
  void SetIncInitSN(int64_t v);
  void SetIncPrevSN(int64_t v) { incPrev_ = v; }
  void SetIncCurrentSN(int64_t v);
  void SetIsFixAscii(bool v) { isFixAscii_ = v; }

  int64_t GetIncNextSN() const;
  // Byte i (0..5) of the next serial, with today's date word.
  uint8_t GetSNByte(int index) const;
  std::string GetSNText() const;
  std::string GetDateText() const;
  std::string GetFixSNText() const;
  // YY * 512 + day of the year for the given date.
  static uint16_t DateWord(const LocalDate& date);

  // After a passed unit.
  void Commit();

  void SetDateSource(DateSource source) { date_ = std::move(source); }

 private:
  struct BlankTag {};
  explicit TProdSN(BlankTag);
  int32_t Total() const { return isDate_ ? 4 : 6; }
  bool CountAllowed(int32_t v) const { return v >= 0 && v <= Total(); }

  bool isSN_ = false;
  bool isDate_ = false;
  int32_t fixCount_ = 0;
  int64_t fixSN_ = 0;
  int32_t incCount_ = 0;
  int64_t incInit_ = 0;
  int64_t incPrev_ = 0;
  int64_t incCurrent_ = 0;
  bool isFixAscii_ = false;
  DateSource date_ = SystemLocalDate;
};

}  // namespace korvel
