#include "station/Station.h"

#include "platform/Text.h"

namespace korvel {

namespace {
std::filesystem::path IniPath(const StationEnvironment& env) {
  return env.iniPath.empty() ? env.workingDirectory / kIniFileName : env.iniPath;
}
}  // namespace

Station::Station(const StationEnvironment& env, StationView& view)
    : link_(env.hid, env.host),
      finder_(link_.Hid()),
      file_(IniPath(env)),
      // Detection also searches the identity typed into the settings, when it reads as one.
      presence_(link_, finder_, env.host,
                [this]() -> std::optional<VidPid> {
                  const auto vid = HexFieldNumber(settings_.VidSet);
                  const auto pid = HexFieldNumber(settings_.PidSet);
                  if (!vid || !pid) return std::nullopt;
                  return VidPid{int32_t(*vid), int32_t(*pid)};
                }),
      programmer_(link_, env.host, presence_),
      production_(ledger_, programmer_, file_, link_, env.host),
      go_(production_, programmer_, link_, presence_, env.host,
          {.workingDirectory = env.workingDirectory,
           .startProgram = env.startProgram,
           .reportToLoader = env.reportToLoader}),
      console_(link_, programmer_.Staging()),
      presenter_(env, view,
                 {.settings = settings_,
                  .link = link_,
                  .finder = finder_,
                  .ledger = ledger_,
                  .file = file_,
                  .presence = presence_,
                  .programmer = programmer_,
                  .production = production_,
                  .go = go_,
                  .console = console_}) {
  if (env.date) ledger_.SetDateSource(env.date);
  if (!env.station.empty()) production_.SetStation(env.station);
  production_.Record().SetBusyTimeout(env.recordBusyMs);
}

Station::~Station() = default;

}  // namespace korvel
