#include "Simulate.h"

#include <fstream>
#include <sstream>

#include "EmulatedHid.h"
#include "EmulatedNeighbours.h"
#include "EmulatedRx.h"
#include "Next.h"
#include "VirtualHost.h"
#include "connection/Station.h"
#include "platform/Text.h"

namespace korvel {

namespace {
// No window: messages go to the error stream, dialogs are answered as an operator would.
class ConsoleView : public StationView {
 public:
  explicit ConsoleView(std::ostream& err) : err_(err) {}
  void Render(const ViewState&) override {}
  void ShowMessage(const std::string& dialog, const std::string&,
                   const std::string& text) override {
    std::string oneLine = text;
    for (char& c : oneLine)
      if (c == '\r' || c == '\n') c = ' ';
    err_ << "korvel-rf: " << (dialog.empty() ? "message" : dialog) << ": " << oneLine << "\n";
  }
  std::optional<std::string> AskPassword() override { return std::nullopt; }
  int AskLanguage(int) override { return 0; }
  int ScreenWidth() override { return 1920; }
  int ScreenHeight() override { return 1080; }

 private:
  std::ostream& err_;
};

// The simulation never touches the operator's saved language.
class FixedLanguage : public LanguageStore {
 public:
  std::optional<std::string> Read() override { return std::string("lkEng"); }
  bool Write(const std::string&) override { return true; }
  void Forget() override {}
};

struct UnitReport {
  int unit = 0;
  bool pass = false;
  uint64_t ms = 0;
  std::string rxsn, txsn, rxid, txid;
  EmulatedRx::RegisterFile rxBefore{}, rxAfter{};
  EmulatedTx::Eeprom txBefore{}, txAfter{};
  uint64_t sent = 0, fetched = 0;
};

template <class Array>
std::string JsonInts(const Array& values) {
  std::string text = "[";
  for (size_t i = 0; i < values.size(); ++i) text += (i ? "," : "") + std::to_string(values[i]);
  return text + "]";
}

std::string JsonText(const std::string& s) {
  std::string text = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') text += '\\';
    text += c;
  }
  return text + "\"";
}
}  // namespace

int RunSimulate(const SimulateOptions& options, std::ostream& out, std::ostream& err) {
  // The file is checked first, exactly as the window would load it.
  {
    Settings settings;
    Generators generators;
    if (!LoadSettingsForCli(options.ini, settings, generators, err)) return 1;
  }

  VirtualHost host;
  EmulatedHidPlatform platform(host);
  AttachTypicalNeighbours(platform);
  FixedLanguage language;
  ConsoleView view(err);
  StationEnvironment env{
      host,     platform,
      language, options.ini.parent_path().empty() ? "." : options.ini.parent_path(),
      nullptr,  1};
  env.iniPath = options.ini;
  if (options.date) {
    const LocalDate date = *options.date;
    env.date = [date] { return date; };
  }
  env.startProgram = [](const std::string&) { return false; };  // no external tool in a simulation
  env.reportToLoader = [](const std::string&) { return false; };
  Station station(env, view);
  station.FormCreate({});
  station.FormActivate();

  std::vector<UnitReport> reports;
  for (int unit = 1; unit <= options.units; ++unit) {
    EmulatedRx::Config config;
    config.seed = uint32_t(unit);
    config.instance = unit;
    auto rx = std::make_shared<EmulatedRx>(host, config);
    auto tx = std::make_shared<EmulatedTx>();
    tx->SetPowered(true, host.TickCount());
    rx->SetTx(tx);
    UnitReport report;
    report.unit = unit;
    report.rxBefore = rx->Registers();
    report.txBefore = tx->EepromBytes();

    platform.Attach(rx);
    host.RunFor(5500);  // the detection tick opens it
    if (station.HaveRx() && !rx->Linked()) {
      tx->SetBindMode(true);
      station.Click("btnCombo_Cmd_Soft_Bind_SW");
      host.RunUntil([&] { return !station.tmrSoftBind().Enabled(); }, 20000);
      tx->SetBindMode(false);
      host.RunFor(600);
    }
    if (!options.fault.empty()) rx->InjectFault(options.fault);
    // The operator's key: taken only while Go is enabled.
    if (station.FormKeyDown(kVkPageDown)) {
      report.pass = station.View()["lblResult"].text == "PASS";
      report.ms = station.LastSetTxMs;
      report.rxid = HexText(station.LastIdA, 6);
      report.txid = HexText(station.LastIdB, 6);
    } else {
      report.rxid = report.txid = "-";
    }
    report.rxsn = station.View()["edtRX_SN"].text.empty() ? "-" : station.View()["edtRX_SN"].text;
    report.txsn = station.View()["edtTX_SN"].text.empty() ? "-" : station.View()["edtTX_SN"].text;
    report.rxAfter = rx->Registers();
    report.txAfter = tx->EepromBytes();
    report.sent = rx->ReportsReceived();
    report.fetched = rx->ReportsFetched();
    out << "unit=" << unit << " result=" << (report.pass ? "PASS" : "FAIL") << " ms=" << report.ms
        << " rxsn=" << report.rxsn << " txsn=" << report.txsn << " rxid=" << report.rxid
        << " txid=" << report.txid << "\n";
    reports.push_back(report);
    // The unit leaves the bench; detection sees it go.
    platform.Detach(rx.get());
    host.RunFor(5500);
  }
  station.FormCloseQuery();

  if (options.json) {
    std::ostringstream json;
    json << "{\"units\":[";
    for (size_t i = 0; i < reports.size(); ++i) {
      const UnitReport& r = reports[i];
      json << (i ? "," : "") << "{\"unit\":" << r.unit << ",\"result\":\""
           << (r.pass ? "PASS" : "FAIL") << "\",\"ms\":" << r.ms << ",\"rxsn\":" << JsonText(r.rxsn)
           << ",\"txsn\":" << JsonText(r.txsn) << ",\"rxid\":" << JsonText(r.rxid)
           << ",\"txid\":" << JsonText(r.txid)
           << ",\"rx_registers_before\":" << JsonInts(r.rxBefore)
           << ",\"rx_registers\":" << JsonInts(r.rxAfter)
           << ",\"tx_eeprom_before\":" << JsonInts(r.txBefore)
           << ",\"tx_eeprom\":" << JsonInts(r.txAfter) << ",\"reports_sent\":" << r.sent
           << ",\"reports_fetched\":" << r.fetched << "}";
    }
    json << "]}\n";
    std::ofstream file(*options.json, std::ios::binary);
    file << json.str();
    if (!file.flush()) {
      err << "korvel-rf: cannot write " << options.json->string() << "\n";
      return 1;
    }
  }
  return 0;
}

}  // namespace korvel
