// The engineering page: its fields give the parameters of its buttons, the console does the
// work, and the fields show what last went to (or came from) the device, whoever sent it.
// A failed operation is said on the page's result line; the field of a failed read is red.
#pragma once

#include <optional>
#include <string>

#include "config/Settings.h"
#include "presenter/EngineeringConsole.h"
#include "ui/ViewState.h"

namespace korvel {

class EngineeringPage {
 public:
  // A read of the product name, VID or PID shows it in the settings, which take it too.
  EngineeringPage(ViewState& view, StationView& ui, EngineeringConsole& console, Settings& settings)
      : view_(view), ui_(ui), console_(console), settings_(settings) {}

  // A button of the page by its name; false when it is none of the page's.
  bool Click(const std::string& name);
  // One of the access radio buttons was chosen.
  void AccessChosen(AccessChoice choice);
  // An operation on the RX, whoever sent it.
  void Show(const LinkOperation& operation);
  // A register row of the EEPROM tab that a Set TX run staged (VID, PID, string length).
  void ShowStaged(uint8_t reg, uint8_t value);
  // A field's number; a text that is not hexadecimal (or above 0xFFFF) is reported.
  std::optional<uint16_t> FieldWord(const std::string& name);

 private:
  bool Handle(const std::string& name);
  std::optional<uint8_t> FieldByte(const std::string& name);
  // The result line: the failure of an operation, or nothing after a success.
  void Report(const Status& status);
  void RfRead(const std::string& kind);
  void RfWrite(const std::string& kind);
  Result<uint16_t> EepromRead(const std::string& address);
  void EepromWrite(const std::string& address);
  void StringRead();
  void StringWrite();
  void IdRead(const char* which);
  void IdWrite(const char* which);

  ViewState& view_;
  StationView& ui_;
  EngineeringConsole& console_;
  Settings& settings_;
  bool pageOperation_ = false;  // the fields hold this operation's parameters as typed
};

}  // namespace korvel
