// The station, built in one place: every room made and wired here, for the windows, the
// companion's simulation and the tests alike. The rooms are reached through the station; the
// presenter only drives them.
#pragma once

#include <memory>

#include "presenter/StationPresenter.h"

namespace korvel {

class Station {
 public:
  Station(const StationEnvironment& env, StationView& view);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  StationPresenter& Presenter() { return presenter_; }
  Settings& Model() { return settings_; }
  RxLink& Link() { return link_; }
  ReceiverFinder& Finder() { return finder_; }
  NumberingLedger& Ledger() { return ledger_; }
  SettingsFile& File() { return file_; }
  PresenceMonitor& Presence() { return presence_; }
  UnitProgrammer& Programmer() { return programmer_; }
  ProductionRun& Production() { return production_; }
  GoCycle& Go() { return go_; }
  EngineeringConsole& Console() { return console_; }

 private:
  // In the order they are built: each room only reaches rooms built before it.
  Settings settings_;
  RxLink link_;
  ReceiverFinder finder_;
  NumberingLedger ledger_;
  SettingsFile file_;
  PresenceMonitor presence_;
  UnitProgrammer programmer_;
  ProductionRun production_;
  GoCycle go_;
  EngineeringConsole console_;
  StationPresenter presenter_;
};

}  // namespace korvel
