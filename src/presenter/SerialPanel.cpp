// The panel that edits the serial-number and link-ID generators: it shows the four generators
// and checks every entry before it reaches a generator's setter.
#include "presenter/SerialPanel.h"

#include <cctype>

#include "platform/Text.h"

namespace korvel {

namespace {
struct Side {
  const char* prefix;  // "RX" or "TX"
  TProdSN Generators::*sn;
  TProdRFID Generators::*rfid;
  GeneratorSlot snSlot;
  GeneratorSlot rfidSlot;
};
const Side kSides[] = {
    {"RX", &Generators::RxSN, &Generators::RxRFID, GeneratorSlot::RxSN, GeneratorSlot::RxRFID},
    {"TX", &Generators::TxSN, &Generators::TxRFID, GeneratorSlot::TxSN, GeneratorSlot::TxRFID}};

std::string Name(const Side& side, const char* kind, const char* role) {
  return std::string(kind) + side.prefix + "_" + role;
}

// The controls under the serial on/off box, shown only while the serial is on.
const char* const kSerialDetail[][2] = {
    {"cb", "IsDate"},     {"lbl", "Date"},      {"lbl", "FixSN"},        {"edt", "FixByteCount"},
    {"lbl", "FixSNByte"}, {"rb", "FixAscii"},   {"rb", "FixHex"},        {"lbl", "FixSNV"},
    {"edt", "FixSN"},     {"lbl", "IncSN"},     {"edt", "IncByteCount"}, {"lbl", "IncSNByte"},
    {"lbl", "IncInitSN"}, {"edt", "IncInitSN"}, {"lbl", "IncCurrentSN"}, {"edt", "IncCurrentSN"},
    {"lbl", "IncNextSN"}, {"edt", "IncNextSN"},
};

bool ParseCount(const std::string& text, int& value) {
  const std::string_view t = TrimBlanks(text);
  if (t.empty() || t.size() > 2) return false;
  value = 0;
  for (char c : t) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// Up to maxDigits hex digits; the empty text is 0.
bool ParseHexUpTo(const std::string& text, int maxDigits, uint64_t& value) {
  const std::string_view t = TrimBlanks(text);
  if (int(t.size()) > maxDigits) return false;
  value = 0;
  for (char c : t) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    value = value << 4 |
            uint64_t(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                 : (std::toupper(c) - 'A' + 10));
  }
  return true;
}
}  // namespace

SerialPanel::Change SerialPanel::Refused(Phrase why) {
  Refresh();  // the field shows what the generator holds again
  return {true, false, std::move(why)};
}

void SerialPanel::Refresh() {
  auto NearWrap = [this](GeneratorSlot slot) {
    const auto left = ledger_.NumbersLeft(slot);
    return left && *left < kWrapWarningLeft;
  };
  for (const Side& side : kSides) {
    const TProdSN& sn = ledger_.Gen().*side.sn;
    const TProdRFID& id = ledger_.Gen().*side.rfid;
    view_[Name(side, "cb", "IsSN")].checked = sn.IsSN();
    view_[Name(side, "cb", "IsDate")].checked = sn.IsDate();
    view_[Name(side, "lbl", "Date")].text = sn.GetDateText();
    view_[Name(side, "edt", "FixByteCount")].text = std::to_string(sn.FixSNByteCount());
    view_[Name(side, "edt", "IncByteCount")].text = std::to_string(sn.IncSNByteCount());
    view_[Name(side, "rb", "FixAscii")].checked = sn.IsFixAscii();
    view_[Name(side, "rb", "FixHex")].checked = !sn.IsFixAscii();
    view_[Name(side, "edt", "FixSN")].text = sn.GetFixSNText();
    const int incDigits = 2 * std::max(sn.IncSNByteCount(), 0);
    auto incText = [&](int64_t v) {
      return incDigits ? HexText(uint64_t(v), incDigits) : std::string();
    };
    view_[Name(side, "edt", "IncInitSN")].text = incText(sn.IncInitSN());
    view_[Name(side, "edt", "IncCurrentSN")].text = incText(sn.IncCurrentSN());
    view_[Name(side, "edt", "IncNextSN")].text = incText(sn.IncNextSN());
    view_[Name(side, "edt", "IncNextSN")].color = NearWrap(side.snSlot) ? "red" : "";
    for (const auto& [kind, role] : kSerialDetail)
      view_[Name(side, kind, role)].visible = sn.IsSN();
    view_[std::string("gb") + side.prefix].height = sn.IsSN() ? 95 : 35;

    view_[Name(side, "rb", "RandomRFID")].checked = id.IsRandom();
    view_[Name(side, "rb", "CustomRFID")].checked = !id.IsRandom();
    view_[Name(side, "edt", "IncInitRFID")].text =
        HexText(uint32_t(id.IncInitRFID()) & 0xFFFFFF, 6);
    view_[Name(side, "edt", "IncCurrentRFID")].text =
        id.IncCurrentRFID() ? HexText(uint32_t(id.IncCurrentRFID()) & 0xFFFFFF, 6) : "";
    // A random generator's next ID is drawn only when used.
    view_[Name(side, "edt", "IncNextRFID")].text =
        id.IsRandom() ? "" : HexText(uint32_t(id.NextRFID()) & 0xFFFFFF, 6);
    view_[Name(side, "edt", "IncNextRFID")].color = NearWrap(side.rfidSlot) ? "red" : "";
  }
}

SerialPanel::Change SerialPanel::Take(const std::string& name, const ControlState& state) {
  for (const Side& side : kSides) {
    TProdSN& sn = ledger_.Gen().*side.sn;
    TProdRFID& id = ledger_.Gen().*side.rfid;
    const std::string who = side.prefix;
    const int total = sn.IsDate() ? 4 : 6;
    GeneratorSlot slot = side.snSlot;
    if (name == Name(side, "cb", "IsSN")) {
      sn.SetIsSN(state.checked);
    } else if (name == Name(side, "cb", "IsDate")) {
      sn.SetIsDate(state.checked);
    } else if (name == Name(side, "edt", "FixByteCount") ||
               name == Name(side, "edt", "IncByteCount")) {
      int count = 0;
      if (!ParseCount(state.text, count) || count > total) {
        return Refused(Say("{0} serial: enter a byte count from 0 to {1}.", who, total));
      }
      if (name == Name(side, "edt", "FixByteCount"))
        sn.SetFixSNByteCount(count);
      else
        sn.SetIncSNByteCount(count);
    } else if (name == Name(side, "rb", "FixAscii") || name == Name(side, "rb", "FixHex")) {
      if (!state.checked) return {true, false, {}};  // the other button of the pair reports it
      sn.SetIsFixAscii(name == Name(side, "rb", "FixAscii"));
    } else if (name == Name(side, "edt", "FixSN")) {
      const int count = sn.FixSNByteCount();
      uint64_t value = 0;
      if (sn.IsFixAscii()) {
        if (int(state.text.size()) != count) {
          return Refused(Say("{0} fixed part: enter exactly {1} characters.", who, count));
        }
        for (char c : state.text) {
          if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
            return Refused(Say("{0} fixed part: use letters, digits and ASCII signs only.", who));
          }
          value = value << 8 | static_cast<unsigned char>(c);
        }
      } else if (!ParseHexUpTo(state.text, 2 * count, value)) {
        return Refused(
            Say("{0} fixed part: enter at most {1} hexadecimal digits.", who, 2 * count));
      }
      sn.SetFixSN(int64_t(value));
    } else if (name == Name(side, "edt", "IncInitSN")) {
      const int digits = 2 * std::max(sn.IncSNByteCount(), 0);
      uint64_t value = 0;
      if (!ParseHexUpTo(state.text, digits, value)) {
        return Refused(
            Say("{0} initial serial: enter at most {1} hexadecimal digits.", who, digits));
      }
      // The next unit continues from the new start, and so does the next program start.
      ledger_.NewSerialStart(slot, int64_t(value));
    } else if (name == Name(side, "rb", "RandomRFID") || name == Name(side, "rb", "CustomRFID")) {
      if (!state.checked) return {true, false, {}};
      id.SetIsRandom(name == Name(side, "rb", "RandomRFID"));
      slot = side.rfidSlot;
    } else if (name == Name(side, "edt", "IncInitRFID")) {
      uint64_t value = 0;
      if (!ParseHexUpTo(state.text, 6, value) || value == 0) {
        return Refused(Say("{0} initial ID: enter 1 to 6 hexadecimal digits, not all zero.", who));
      }
      ledger_.NewLinkIdStart(side.rfidSlot, int32_t(value));
      slot = side.rfidSlot;
    } else {
      continue;
    }
    ledger_.Edited(slot);
    Refresh();
    return {true, true, {}};
  }
  return {};
}

}  // namespace korvel
