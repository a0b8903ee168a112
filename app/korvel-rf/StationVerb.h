// The window's station without a window: the same rooms, TX.ini, lock, record, hot-plug and Go
// on a host and HID bus given to it, with a console for its view. For lines whose fixture
// controller starts each run and whose line computer collects the results.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "config/Settings.h"

namespace korvel {

class Host;
class HidPlatform;
class HotPlugSource;

struct StationOptions {
  std::filesystem::path ini = kIniFileName;
  // empty: the window's rule; a postgresql:// URL: the fleet database
  std::filesystem::path db;
  bool autoGo = false;  // Go as soon as both sides are ready (the loader's auto-start)
  int units = 0;        // stop after this many units; 0: until stopped
  bool jsonLines = false;
};

class ConsoleStation {
 public:
  ConsoleStation(const StationOptions& options, Host& host, HidPlatform& hid,
                 HotPlugSource* hotPlug, std::ostream& out, std::ostream& err);
  ~ConsoleStation();
  ConsoleStation(const ConsoleStation&) = delete;
  ConsoleStation& operator=(const ConsoleStation&) = delete;

  // Loads and claims TX.ini and opens the record as the window does; the exit code when the
  // station cannot run.
  std::optional<int> Start();
  // A line from the operator or a fixture: empty or "go" presses Go at the next turn, "quit"
  // ends the station; anything else is answered with a note.
  void Line(const std::string& line);
  // No more lines will come: without --auto nothing could start a unit, so the station ends.
  void InputEnded();
  // SIGINT, SIGTERM: end after the unit in hand (its record rows are whole).
  void Stop();
  // After each turn of the host's loop: a pending or automatic Go, then the end if due.
  void Turn();
  bool Finished() const { return finished_; }
  // Closes the station (the lock released, the record closed); the exit code.
  int Finish();

 private:
  class View;
  // A Go: asked by a line (a press that ran nothing is said), or --auto's.
  void Press(bool asked);
  // --auto may press: nothing was programmed yet, or the last unit was seen taken off.
  bool Armed();
  void Print(const std::string& text, const std::string& json);

  StationOptions options_;
  Host& host_;
  HidPlatform& hid_;
  HotPlugSource* hotPlug_;
  std::ostream& out_;
  std::ostream& err_;
  std::unique_ptr<View> view_;
  struct Rooms;
  std::unique_ptr<Rooms> rooms_;
  bool goRequested_ = false;
  bool stopping_ = false;
  bool finished_ = false;
  int units_ = 0, passed_ = 0;
  bool wasReady_ = false;
  bool armed_ = true;
  int emptySearchesAtRun_ = 0;
  int64_t readyMs_ = -1;  // the unit in hand: plug to both sides ready; -1 unknown
};

// The station on this PC's HID bus, its hot-plug word and the real clock, Go from standard
// input and signals; returns the exit code.
int RunStationVerb(const StationOptions& options, std::ostream& out, std::ostream& err);

}  // namespace korvel
