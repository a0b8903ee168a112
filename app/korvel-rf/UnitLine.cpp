#include "UnitLine.h"

#include <cstdio>

#include "platform/Text.h"

namespace korvel {

UnitOutcome OutcomeOf(int unit, const RunResult& run) {
  UnitOutcome outcome;
  outcome.unit = unit;
  outcome.pass = run.pass;
  outcome.reason = run.failedStep.English();
  outcome.ms = run.ms;
  outcome.rxid = HexText(run.rxId, 6);
  outcome.txid = HexText(run.txId, 6);
  if (!run.rxSerial.empty()) outcome.rxsn = run.rxSerial;
  if (!run.txSerial.empty()) outcome.txsn = run.txSerial;
  return outcome;
}

std::string JsonText(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

std::string UnitLineText(const UnitOutcome& o) {
  std::string line = "unit=" + std::to_string(o.unit) + " result=" + (o.pass ? "PASS" : "FAIL");
  if (!o.pass) line += " reason=" + JsonText(o.reason);
  return line + " ms=" + std::to_string(o.ms) + " rxsn=" + o.rxsn + " txsn=" + o.txsn +
         " rxid=" + o.rxid + " txid=" + o.txid;
}

std::string UnitJsonMembers(const UnitOutcome& o) {
  return "\"unit\":" + std::to_string(o.unit) + ",\"result\":\"" + (o.pass ? "PASS" : "FAIL") +
         "\",\"reason\":" + JsonText(o.reason) + ",\"ms\":" + std::to_string(o.ms) +
         ",\"rxsn\":" + JsonText(o.rxsn) + ",\"txsn\":" + JsonText(o.txsn) +
         ",\"rxid\":" + JsonText(o.rxid) + ",\"txid\":" + JsonText(o.txid);
}

}  // namespace korvel
