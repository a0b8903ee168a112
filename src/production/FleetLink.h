// A station's link to the fleet database: the numbering comes from blocks of each series'
// counter that the database leases to the station (one short transaction per block), random
// link IDs from a pool reserved there; the station draws inside what it holds, so it rides out
// an outage until its blocks run out. Its rows travel from the local record through an outbox,
// sent by a thread of its own: each once, in order, idempotent by station, record and local id.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Host.h"
#include "production/FleetDatabase.h"
#include "production/NumberingLedger.h"
#include "production/ProductionRecord.h"

namespace korvel {

struct FleetConfig {
  std::string url;      // libpq connection URI
  std::string station;  // this station's name in the database
  int lease = kDefaultLease;
  bool operator==(const FleetConfig&) const = default;
};

// What the window shows of the fleet database.
struct FleetStatus {
  bool configured = false;  // this station numbers through a fleet database
  bool online = false;      // the last contact with it went through
  int64_t numbersLeft = 0;  // numbers left in the blocks held, for the series the next unit
                            // uses (the fewest of them): units the station can still number
  int64_t backlog = 0;      // rows of this station not in the database yet
  Phrase why;               // why it is offline or cannot be used; empty when all is well
};
// The window's status line: "fleet offline, N numbers left" while the database cannot be
// used; empty otherwise.
Phrase FleetStatusLine(const FleetStatus& status);

// What identifies a series in the database: what makes two stations' numbers collide.
struct FleetSeries {
  std::string key;
  std::string generator;  // RXSN, TXSN, RXRFID, TXRFID
  int64_t maxValue = 0;
  bool pool = false;  // random link IDs: reserved one by one, not leased as a block
};
// Serials: the generator, the date flag, the fixed part and the byte counts.
FleetSeries SerialSeries(GeneratorSlot slot, const TProdSN& sn);
// Link IDs: the generator and its 24-bit range; random ones come from a pool.
FleetSeries LinkIdSeries(GeneratorSlot slot, const TProdRFID& id);
// The ID a custom link-ID generator gives next when its counter is at `from`: the first
// acceptable ID at or above it, with the high-byte substitution; -1 past FFFFFF.
int64_t CustomLinkIdFrom(int64_t from);

// The numbers a unit got, with the lease each came from (indexed by NumberKind).
struct FleetDraw {
  std::array<SeriesNumber, 4> numbers;
  std::array<int64_t, 4> lease{};
};

class FleetLink {
 public:
  FleetLink(Host& host, ProductionRecord& record);
  ~FleetLink();
  FleetLink(const FleetLink&) = delete;
  FleetLink& operator=(const FleetLink&) = delete;

  // Starts numbering through the database; the record must be open. Nothing is asked of the
  // database yet (a station starts as fast offline as online): the leases this station holds
  // are read from the record, and the sender starts. Fails only on a URL that must not be
  // used or a build without the database.
  Status Open(const FleetConfig& config);
  bool IsOpen() const { return open_; }
  const FleetConfig& Config() const { return config_; }
  // Sends what it can, returns the numbers not used (when the database can be reached) and
  // stops the sender.
  void Close();

  // The next unit's numbers from the blocks held (a block is leased when one runs out). The
  // ledger's serial generators are set so that its Draw gives these numbers; `unit` gets all
  // four. Nothing moves until Consume: a failed unit's numbers are offered again.
  Status Draw(NumberingLedger& ledger, UnitNumbers& unit, FleetDraw& draw);
  // A drawn number that the local record says a unit already carries: never offered again.
  Status PassOver(NumberKind kind, const FleetDraw& draw);
  // The unit passed: its numbers are used. Local writes only, for the record's transaction
  // that makes the row PASS; Consumed follows once it committed.
  Status Consume(const FleetDraw& draw);
  void Consumed(const FleetDraw& draw);
  // The unit's row as the outbox keeps it.
  OutboxEntry Entry(const FleetDraw& draw) const;

  // The sender looks at the outbox now (a row became ready).
  void Kick();
  // One round of sending, waited for (tests, and a station about to close).
  void SendNow();

  // The status for the next unit these generators number.
  FleetStatus StatusFor(const Generators& generators) const;

 private:
  struct Pick {
    size_t lease = 0;  // index into held_
    int64_t value = 0;
  };
  Result<Pick> Next(const FleetSeries& series, std::optional<int64_t> wish,
                    const NumberingLedger& ledger, GeneratorSlot slot);
  // The value a held lease offers next; nullopt when it has none left.
  std::optional<int64_t> Offer(const LocalLease& lease, const FleetSeries& series) const;
  int64_t Left(const LocalLease& lease, const FleetSeries& series) const;
  bool Usable(const LocalLease& lease) const;
  Status Connected();
  Result<size_t> LeaseBlock(const FleetSeries& series, std::optional<int64_t> wish);
  Result<size_t> ReservePool(const FleetSeries& series, const TProdRFID& generator);
  Status ReturnLease(LocalLease& lease);
  Status Advance(NumberKind kind, const FleetDraw& draw, bool inMemory);

  // The sender's side.
  void SenderLoop();
  void SendRound();
  Status SendRows(const std::vector<OutboxRow>& rows);
  Status SendRow(const OutboxRow& row);
  void Online();
  void Offline(const Phrase& why);

  Host& host_;
  ProductionRecord& record_;
  FleetConfig config_;
  bool open_ = false;
  std::string fleetUid_;  // the database's identity, once known
  std::vector<LocalLease> held_;
  // Numbers left in a block of link IDs, counted once for each place its cursor stands
  // (lease id -> cursor, count): the window asks often, a block may hold 100,000.
  mutable std::map<int64_t, std::pair<int64_t, int64_t>> leftCounted_;
  PgSession leaseDb_;  // the station's thread
  std::unique_ptr<HostTimer> retry_;

  // Shared with the sender thread.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  uint64_t requested_ = 0;
  uint64_t served_ = 0;
  bool online_ = false;
  Phrase why_;
  // The database answers but cannot be used (no tables of ours, no rights): Go stops.
  Phrase problem_;
  int64_t backlog_ = 0;
  std::thread sender_;
  // The sender's own.
  PgSession sendDb_;
  ProductionRecord outbox_;
  std::string recordUid_;
  // The last row of each sender (station, record) known to be in the database.
  std::map<std::pair<std::string, std::string>, int64_t> delivered_;
  // What this station still has to send, after a round that went through or not.
  void CountBacklog();
};

}  // namespace korvel
