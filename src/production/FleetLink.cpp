#include "production/FleetLink.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>

#include "platform/Text.h"
#include "production/FleetSchema.h"

namespace korvel {

namespace {
// How often (host time) the sender looks again when nothing woke it: the backlog goes out
// soon after the database is back, without an operator's action.
constexpr uint32_t kRetryMs = 3000;
// Rows per transaction, and rows read from the outbox at a time.
constexpr int kSendBatch = 25;
constexpr int kReadBatch = 200;
// Leases in a row that give no usable number (link IDs all reserved or substituted away)
// before the station gives up.
constexpr int kEmptyLeases = 8;
constexpr int kPoolTries = 4;
constexpr int kClashes = 16;

const char* const kGeneratorNames[kGeneratorSlots] = {"RXSN", "TXSN", "RXRFID", "TXRFID"};

Phrase KindName(size_t kind) {
  switch (kind) {
    case 0:
      return Say("RX serial");
    case 1:
      return Say("TX serial");
    case 2:
      return Say("RX link ID");
    default:
      return Say("TX link ID");
  }
}

size_t KindOf(const FleetSeries& series) {
  for (size_t i = 0; i < kGeneratorSlots; ++i)
    if (series.generator == kGeneratorNames[i]) return i;
  return 0;
}

bool IsLinkId(const FleetSeries& series) {
  return KindOf(series) >= 2;
}

// A serial that numbers units; a batch code (no incrementing part) is no series: every unit
// of the batch carries it.
bool NumbersUnits(const TProdSN& sn) {
  return sn.IsSN() && sn.IncSNByteCount() > 0;
}

// Which serials of a row are batch codes, as both records keep it.
std::string SharedSerials(const RecordNumbers& n) {
  return std::to_string((n.rxSerialShared ? 1 : 0) | (n.txSerialShared ? 2 : 0));
}

PgParam Nullable(const std::string& text) {
  return text.empty() ? PgParam() : PgParam(text);
}

// A row's columns as the units and refused_units inserts number them: $1 to $20, then the
// statement's own $21, then shared_serials as $22.
std::vector<PgParam> RowParameters(const OutboxRow& r, const std::string& twentyFirst) {
  return {r.station,
          r.recordUid,
          std::to_string(r.row.id),
          std::to_string(r.seq),
          r.row.station,
          r.row.timeUtc,
          r.row.timeLocal,
          r.row.settingsFile,
          r.row.result,
          r.row.failedStep,
          std::to_string(r.row.ms),
          Nullable(r.row.numbers.rxSerial),
          Nullable(r.row.numbers.txSerial),
          Nullable(r.row.numbers.rxId),
          Nullable(r.row.numbers.txId),
          std::to_string(r.row.rxVid),
          std::to_string(r.row.rxPid),
          std::to_string(r.row.rxVersion),
          r.row.settingsHash,
          r.row.given ? "true" : "false",
          twentyFirst,
          SharedSerials(r.row.numbers)};
}
}  // namespace

Phrase FleetStatusLine(const FleetStatus& status) {
  if (!status.configured || (status.online && status.why.empty())) return {};
  return Say("fleet offline, {0} numbers left", status.numbersLeft);
}

FleetSeries SerialSeries(GeneratorSlot slot, const TProdSN& sn) {
  const int fix = std::clamp(sn.FixSNByteCount(), 0, 6);
  const int inc = std::clamp(sn.IncSNByteCount(), 0, 6);
  const uint64_t fixMask = (uint64_t(1) << (8 * fix)) - 1;
  FleetSeries series;
  series.generator = kGeneratorNames[size_t(slot)];
  series.key = series.generator + ";date=" + (sn.IsDate() ? "1" : "0") +
               ";fix=" + (fix ? HexText(uint64_t(sn.FixSN()) & fixMask, 2 * fix) : "") +
               ";inc=" + std::to_string(inc);
  series.maxValue = inc ? int64_t((uint64_t(1) << (8 * inc)) - 1) : 0;
  return series;
}

FleetSeries LinkIdSeries(GeneratorSlot slot, const TProdRFID& id) {
  FleetSeries series;
  series.generator = kGeneratorNames[size_t(slot)];
  series.key = series.generator;
  series.maxValue = kLinkIdMask;
  series.pool = id.IsRandom();
  return series;
}

int64_t CustomLinkIdFrom(int64_t from) {
  for (int64_t c = std::max<int64_t>(from, 0); c <= int64_t(kLinkIdMask); ++c)
    if (IsAcceptableLinkId(uint32_t(c))) return int64_t(SubstituteHighByte(uint32_t(c)));
  return -1;
}

FleetLink::FleetLink(Host& host, ProductionRecord& record) : host_(host), record_(record) {}

FleetLink::~FleetLink() {
  Close();
}

Status FleetLink::Open(const FleetConfig& config) {
  Close();
  if (!FleetDatabaseAvailable())
    return Status::Failed(Say("fleet database not available in this build"));
  if (Phrase problem = FleetUrlProblem(config.url); !problem.empty())
    return Status::Failed(std::move(problem));
  if (!record_.IsOpen()) return Status::Failed(Say("the production record is not open"));
  config_ = config;
  const Result<std::string> uid = record_.Meta("fleet " + config.url);
  if (!uid) return uid.status;
  fleetUid_ = *uid;
  held_.clear();
  leftCounted_.clear();
  if (!fleetUid_.empty()) {
    Result<std::vector<LocalLease>> leases = record_.HeldLeases(fleetUid_, config.station);
    if (!leases) return leases.status;
    held_ = std::move(*leases);
  }
  recordUid_ = record_.Uid();
  // The sender reads the outbox through a connection of its own.
  if (Status opened = outbox_.OpenToRead(record_.Path()); !opened) return opened;
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
    online_ = false;
    why_ = Say("the fleet database has not been reached yet");
    problem_ = {};
    backlog_ = 0;
    requested_ = served_ = 0;
  }
  sender_ = std::thread([this] { SenderLoop(); });
  retry_ = host_.CreateTimer();
  retry_->OnTimer = [this] { Kick(); };
  retry_->SetInterval(kRetryMs);
  retry_->SetEnabled(true);
  open_ = true;
  Kick();
  return {};
}

void FleetLink::Close() {
  if (!open_) return;
  open_ = false;
  retry_.reset();
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (sender_.joinable()) sender_.join();
  // The sender is gone: its last round runs here.
  SendRound();
  // What was not used goes back; offline, the leases stay the station's until they expire.
  for (LocalLease& lease : held_)
    if (Usable(lease) && !ReturnLease(lease)) break;
  held_.clear();
  leaseDb_.Disconnect();
  sendDb_.Disconnect();
  outbox_.Close();
}

bool FleetLink::Usable(const LocalLease& lease) const {
  return lease.useUntil > record_.Now();
}

std::optional<int64_t> FleetLink::Offer(const LocalLease& lease, const FleetSeries& series) const {
  if (lease.pool) {
    if (lease.unused.empty()) return std::nullopt;
    return lease.unused.front();
  }
  if (!IsLinkId(series)) {
    if (lease.next > lease.hi) return std::nullopt;
    return lease.next;
  }
  for (int64_t c = lease.next;;) {
    const int64_t id = CustomLinkIdFrom(c);
    if (id < 0 || id > lease.hi) return std::nullopt;
    if (!std::binary_search(lease.taken.begin(), lease.taken.end(), id)) return id;
    c = id + 1;
  }
}

int64_t FleetLink::Left(const LocalLease& lease, const FleetSeries& series) const {
  if (lease.pool) return int64_t(lease.unused.size());
  if (!IsLinkId(series)) return std::max<int64_t>(0, lease.hi - lease.next + 1);
  // IDs a unit can get from `from` up to (not including) `to`.
  const auto count = [&lease](int64_t from, int64_t to) {
    int64_t n = 0;
    for (int64_t c = from;;) {
      const int64_t id = CustomLinkIdFrom(c);
      if (id < 0 || id > lease.hi || id >= to) return n;
      if (!std::binary_search(lease.taken.begin(), lease.taken.end(), id)) ++n;
      c = id + 1;
    }
  };
  const auto known = leftCounted_.find(lease.id);
  // The cursor only moves up: what it passed is taken off the count made before.
  const int64_t left = known != leftCounted_.end() && known->second.first <= lease.next
                           ? known->second.second - count(known->second.first, lease.next)
                           : count(lease.next, lease.hi + 1);
  leftCounted_[lease.id] = {lease.next, left};
  return left;
}

void FleetLink::Online() {
  std::lock_guard lock(mutex_);
  online_ = true;
  why_ = {};
}

void FleetLink::Offline(const Phrase& why) {
  std::lock_guard lock(mutex_);
  online_ = false;
  why_ = why;
}

Status FleetLink::Connected() {
  if (leaseDb_.Connected()) return {};
  if (Status connected = leaseDb_.Connect(config_.url); !connected) {
    Offline(connected.failure);
    return connected;
  }
  const Result<FleetIdentity> identity = CheckFleetSchema(leaseDb_);
  if (!identity) {
    leaseDb_.Disconnect();
    if (identity.status.noAnswer) {
      Offline(identity.status.failure);
    } else {
      std::lock_guard lock(mutex_);
      problem_ = identity.status.failure;
    }
    return identity.status;
  }
  {
    std::lock_guard lock(mutex_);
    problem_ = {};
  }
  if (identity->databaseUid != fleetUid_) {
    // Blocks held from another database (this one was made anew) are not this one's numbers.
    for (LocalLease& lease : held_) {
      if (Status ended = record_.EndLease(lease.fleet, lease.id, "left"); !ended) return ended;
      lease.useUntil = 0;
    }
    if (Status kept = record_.SetMeta("fleet " + config_.url, identity->databaseUid); !kept)
      return kept;
    fleetUid_ = identity->databaseUid;
  }
  Online();
  return {};
}

Result<size_t> FleetLink::LeaseBlock(const FleetSeries& series, std::optional<int64_t> wish) {
  if (Status connected = Connected(); !connected) return connected;
  const Result<PgRows> rows = leaseDb_.Query(
      Say("a block of {0} numbers", KindName(KindOf(series))),
      "SELECT lease_id, lo, hi, expires_in, taken FROM "
      "korvel.lease_block($1::text, $2::text, $3::bigint, $4::text, $5::integer, $6::bigint)",
      {series.key, series.generator, std::to_string(series.maxValue), config_.station,
       std::to_string(config_.lease), wish ? PgParam(std::to_string(*wish)) : PgParam()});
  if (!rows) {
    if (rows.status.noAnswer) Offline(rows.status.failure);
    if (leaseDb_.LastState() == kPgSeriesExhausted)
      return Status::Failed(
          Say("the {0} numbers of series {1} are all given in the fleet database: set a new "
              "range (fixed part or byte counts)",
              KindName(KindOf(series)), series.key));
    return rows.status;
  }
  Online();
  LocalLease lease;
  lease.fleet = fleetUid_;
  lease.id = rows->Int(0, 0);
  lease.station = config_.station;
  lease.series = series.key;
  lease.lo = rows->Int(0, 1);
  lease.hi = rows->Int(0, 2);
  lease.next = lease.lo;
  lease.taken = rows->Ints(0, 4);
  const int64_t expires = rows->Int(0, 3);
  // Stop using it a little before the database counts it expired: the clocks differ.
  lease.useUntil = record_.Now() + expires - std::min<int64_t>(expires / 10, 600);
  if (Status saved = record_.SaveLease(lease); !saved) return saved;
  held_.push_back(std::move(lease));
  return held_.size() - 1;
}

Result<size_t> FleetLink::ReservePool(const FleetSeries& series, const TProdRFID& generator) {
  if (Status connected = Connected(); !connected) return connected;
  for (int attempt = 0; attempt < kPoolTries; ++attempt) {
    std::set<int64_t> candidates;
    for (int draws = 0; int(candidates.size()) < config_.lease && draws < 4 * config_.lease;
         ++draws)
      candidates.insert(int64_t(uint32_t(generator.NextRFID()) & kLinkIdMask));
    const Result<PgRows> rows =
        leaseDb_.Query(Say("a pool of random link IDs"),
                       "SELECT lease_id, granted, expires_in FROM "
                       "korvel.reserve_ids($1::text, $2::text, $3::bigint, $4::text, $5::bigint[])",
                       {series.key, series.generator, std::to_string(series.maxValue),
                        config_.station, PgIntArray({candidates.begin(), candidates.end()})});
    if (!rows) {
      if (rows.status.noAnswer) Offline(rows.status.failure);
      return rows.status;
    }
    Online();
    std::vector<int64_t> granted = rows->Ints(0, 1);
    if (granted.empty()) continue;  // every one taken already: draw others
    LocalLease lease;
    lease.fleet = fleetUid_;
    lease.id = rows->Int(0, 0);
    lease.station = config_.station;
    lease.series = series.key;
    lease.pool = true;
    lease.lo = granted.front();
    lease.hi = granted.back();
    lease.unused = std::move(granted);
    const int64_t expires = rows->Int(0, 2);
    lease.useUntil = record_.Now() + expires - std::min<int64_t>(expires / 10, 600);
    if (Status saved = record_.SaveLease(lease); !saved) return saved;
    held_.push_back(std::move(lease));
    return held_.size() - 1;
  }
  return Status::Failed(
      Say("no random {0} could be reserved in the fleet database", KindName(KindOf(series))));
}

Status FleetLink::ReturnLease(LocalLease& lease) {
  if (Status connected = Connected(); !connected) return connected;
  const Result<PgRows> returned =
      lease.pool
          ? leaseDb_.Query(Phrase::Literal("the return of a pool"),
                           "SELECT korvel.return_pool($1::bigint, $2::text, $3::bigint[])",
                           {std::to_string(lease.id), config_.station, PgIntArray(lease.unused)})
          : leaseDb_.Query(Phrase::Literal("the return of a block"),
                           "SELECT korvel.return_lease($1::bigint, $2::text, $3::bigint)",
                           {std::to_string(lease.id), config_.station, std::to_string(lease.next)});
  if (!returned) {
    if (returned.status.noAnswer) Offline(returned.status.failure);
    return returned.status;
  }
  lease.useUntil = 0;
  return record_.EndLease(lease.fleet, lease.id, "returned");
}

Result<FleetLink::Pick> FleetLink::Next(const FleetSeries& series, std::optional<int64_t> wish,
                                        const NumberingLedger& ledger, GeneratorSlot slot) {
  // A block below the station's own next number: an engineer set a new start above it.
  std::optional<size_t> behind;
  for (size_t i = 0; i < held_.size(); ++i) {
    const LocalLease& lease = held_[i];
    if (lease.series != series.key || lease.pool != series.pool || !Usable(lease)) continue;
    const std::optional<int64_t> offered = Offer(lease, series);
    if (!offered) continue;
    if (wish && *wish > *offered) {
      behind = i;
      continue;
    }
    return Pick{i, *offered};
  }
  for (int empty = 0; empty < kEmptyLeases; ++empty) {
    const Result<size_t> fresh =
        series.pool ? ReservePool(series, slot == GeneratorSlot::RxRFID ? ledger.Gen().RxRFID
                                                                        : ledger.Gen().TxRFID)
                    : LeaseBlock(series, wish);
    if (!fresh && fresh.status.noAnswer)
      return Status::NoAnswer(
          Say("{0}; this station has no {1} numbers left in the blocks it holds, so Go waits "
              "until the fleet database is back",
              fresh.status.failure, KindName(KindOf(series))));
    if (!fresh) return fresh.status;
    if (behind) {
      (void)ReturnLease(held_[*behind]);  // best effort: unreturned, it expires as unused
      behind.reset();
    }
    if (const std::optional<int64_t> offered = Offer(held_[*fresh], series))
      return Pick{*fresh, *offered};
    // A block of link IDs with none a unit can get (reserved bytes, IDs reserved as random
    // ones): it goes back, and the next lease starts at the next ID a unit can get.
    LocalLease& useless = held_[*fresh];
    const int64_t after = CustomLinkIdFrom(useless.hi + 1);
    (void)ReturnLease(useless);
    if (after < 0) break;
    wish = after;
  }
  return Status::Failed(
      Say("the fleet database gave no {0} a unit can get", KindName(KindOf(series))));
}

Status FleetLink::Draw(NumberingLedger& ledger, UnitNumbers& unit, FleetDraw& draw) {
  {
    std::lock_guard lock(mutex_);
    if (!problem_.empty()) return Status::Failed(problem_);
  }
  // Leases given back, expired or left behind are out of the way before anything points in;
  // one that ran out of time is no longer read at the next start either.
  for (const LocalLease& lease : held_)
    if (!Usable(lease) && lease.useUntil != 0)
      if (Status ended = record_.EndLease(lease.fleet, lease.id, "expired"); !ended) return ended;
  std::erase_if(held_, [this](const LocalLease& lease) { return !Usable(lease); });
  draw = {};
  Generators& g = ledger.Gen();
  for (GeneratorSlot slot : {GeneratorSlot::RxSN, GeneratorSlot::TxSN}) {
    TProdSN& sn = slot == GeneratorSlot::RxSN ? g.RxSN : g.TxSN;
    if (!NumbersUnits(sn)) continue;
    const FleetSeries series = SerialSeries(slot, sn);
    const Result<Pick> pick = Next(series, sn.IncNextSN(), ledger, slot);
    if (!pick) return pick.status;
    const size_t k = size_t(slot);
    draw.numbers[k] = {series.key, pick->value};
    draw.lease[k] = held_[pick->lease].id;
    // The generator then draws exactly this number, with today's date and its fixed part.
    sn.SetIncCurrentSN(pick->value - 1);
  }
  for (GeneratorSlot slot : {GeneratorSlot::RxRFID, GeneratorSlot::TxRFID}) {
    const TProdRFID& id = slot == GeneratorSlot::RxRFID ? g.RxRFID : g.TxRFID;
    const FleetSeries series = LinkIdSeries(slot, id);
    const std::optional<int64_t> wish =
        id.IsRandom() ? std::nullopt
                      : std::optional<int64_t>(int64_t(uint32_t(id.NextRFID()) & kLinkIdMask));
    const size_t k = size_t(slot);
    for (int clash = 0;; ++clash) {
      const Result<Pick> pick = Next(series, wish, ledger, slot);
      if (!pick) return pick.status;
      draw.numbers[k] = {series.key, pick->value};
      draw.lease[k] = held_[pick->lease].id;
      // The mouse never gets the dongle's own ID.
      if (slot != GeneratorSlot::TxRFID || pick->value != draw.numbers[2].value) break;
      if (clash == kClashes)
        return Status::Failed(Say("the fleet database gave no {0} a unit can get",
                                  KindName(size_t(NumberKind::TxLinkId))));
      if (Status passed = PassOver(NumberKind::TxLinkId, draw); !passed) return passed;
    }
  }
  unit = ledger.Draw();
  unit.rxId = uint32_t(draw.numbers[2].value);
  unit.txId = uint32_t(draw.numbers[3].value);
  return {};
}

Status FleetLink::Advance(NumberKind kind, const FleetDraw& draw, bool inMemory) {
  const SeriesNumber& number = draw.numbers[size_t(kind)];
  if (number.value < 0) return {};
  auto lease = std::find_if(held_.begin(), held_.end(),
                            [&](const LocalLease& l) { return l.id == draw.lease[size_t(kind)]; });
  if (lease == held_.end()) return {};
  if (lease->pool) {
    if (inMemory) {
      std::erase(lease->unused, number.value);
      return {};
    }
    return record_.TakePoolValue(lease->fleet, lease->id, number.value);
  }
  const int64_t next = std::max(lease->next, number.value + 1);
  if (inMemory) {
    lease->next = next;
    return {};
  }
  return record_.MoveLease(lease->fleet, lease->id, next);
}

Status FleetLink::PassOver(NumberKind kind, const FleetDraw& draw) {
  if (Status kept = Advance(kind, draw, false); !kept) return kept;
  return Advance(kind, draw, true);
}

Status FleetLink::Consume(const FleetDraw& draw) {
  for (size_t k = 0; k < draw.numbers.size(); ++k)
    if (Status kept = Advance(NumberKind(k), draw, false); !kept) return kept;
  return {};
}

void FleetLink::Consumed(const FleetDraw& draw) {
  for (size_t k = 0; k < draw.numbers.size(); ++k) (void)Advance(NumberKind(k), draw, true);
}

OutboxEntry FleetLink::Entry(const FleetDraw& draw) const {
  return {config_.station, draw.numbers};
}

FleetStatus FleetLink::StatusFor(const Generators& g) const {
  FleetStatus status;
  status.configured = open_;
  {
    std::lock_guard lock(mutex_);
    status.online = online_ && problem_.empty();
    status.why = problem_.empty() ? why_ : problem_;
    status.backlog = backlog_;
  }
  if (!open_) return status;
  std::vector<FleetSeries> used;
  if (NumbersUnits(g.RxSN)) used.push_back(SerialSeries(GeneratorSlot::RxSN, g.RxSN));
  if (NumbersUnits(g.TxSN)) used.push_back(SerialSeries(GeneratorSlot::TxSN, g.TxSN));
  used.push_back(LinkIdSeries(GeneratorSlot::RxRFID, g.RxRFID));
  used.push_back(LinkIdSeries(GeneratorSlot::TxRFID, g.TxRFID));
  int64_t fewest = std::numeric_limits<int64_t>::max();
  for (const FleetSeries& series : used) {
    int64_t left = 0;
    for (const LocalLease& lease : held_)
      if (lease.series == series.key && lease.pool == series.pool && Usable(lease))
        left += Left(lease, series);
    fewest = std::min(fewest, left);
  }
  status.numbersLeft = fewest;
  return status;
}

void FleetLink::Kick() {
  {
    std::lock_guard lock(mutex_);
    ++requested_;
  }
  wake_.notify_all();
}

void FleetLink::SendNow() {
  if (!open_) return;
  std::unique_lock lock(mutex_);
  const uint64_t wanted = ++requested_;
  wake_.notify_all();
  wake_.wait(lock, [&] { return served_ >= wanted || stop_; });
}

void FleetLink::SenderLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || requested_ > served_; });
    if (stop_) return;
    const uint64_t serving = requested_;
    lock.unlock();
    SendRound();
    lock.lock();
    served_ = serving;
    wake_.notify_all();
  }
}

void FleetLink::CountBacklog() {
  const auto own = std::make_pair(config_.station, recordUid_);
  const Result<int64_t> waiting = outbox_.OutboxCountAfter(own.first, own.second, delivered_[own]);
  if (!waiting) return;
  std::lock_guard lock(mutex_);
  backlog_ = *waiting;
}

void FleetLink::SendRound() {
  const auto fail = [this](const Status& why) {
    CountBacklog();
    std::lock_guard lock(mutex_);
    online_ = false;
    if (why.noAnswer)
      why_ = why.failure;
    else if (!why.failure.empty())
      problem_ = why.failure;
  };
  if (!sendDb_.Connected()) {
    if (Status connected = sendDb_.Connect(config_.url); !connected) return fail(connected);
    const Result<FleetIdentity> identity = CheckFleetSchema(sendDb_);
    if (!identity) {
      sendDb_.Disconnect();
      return fail(identity.status);
    }
    std::lock_guard lock(mutex_);
    problem_ = {};
  }
  const Result<std::vector<std::pair<std::string, std::string>>> senders = outbox_.OutboxSenders();
  if (!senders) return fail(Status::NoAnswer(senders.status.failure));
  // Where each sender's rows stand in the database: what came before is there already.
  for (const auto& sender : *senders) {
    const Result<PgRows> mark = sendDb_.Query(
        Phrase::Literal("the rows already sent"),
        "SELECT greatest((SELECT max(outbox_seq) FROM korvel.units WHERE station = $1::text "
        "AND record_uid = $2::text), (SELECT max(outbox_seq) FROM korvel.refused_units WHERE "
        "station = $1::text AND record_uid = $2::text))",
        {sender.first, sender.second});
    if (!mark) return fail(mark.status);
    delivered_[sender] = mark->Int(0, 0);
  }
  int64_t from = std::numeric_limits<int64_t>::max();
  for (const auto& sender : *senders) from = std::min(from, delivered_[sender]);
  if (senders->empty()) from = 0;
  // A row not final yet holds back its sender's later rows: they arrive in order.
  std::set<std::pair<std::string, std::string>> waiting;
  for (;;) {
    const Result<std::vector<OutboxRow>> rows = outbox_.OutboxAfter(from, kReadBatch);
    if (!rows) return fail(Status::NoAnswer(rows.status.failure));
    if (rows->empty()) break;
    std::vector<OutboxRow> batch;
    for (const OutboxRow& row : *rows) {
      const auto sender = std::make_pair(row.station, row.recordUid);
      if (row.seq <= delivered_[sender] || waiting.count(sender)) continue;
      if (!row.ready) {
        waiting.insert(sender);
        continue;
      }
      batch.push_back(row);
    }
    if (Status sent = SendRows(batch); !sent) return fail(sent);
    from = rows->back().seq;
  }
  CountBacklog();
  std::lock_guard lock(mutex_);
  online_ = true;
  why_ = {};
  problem_ = {};
}

Status FleetLink::SendRows(const std::vector<OutboxRow>& rows) {
  for (size_t at = 0; at < rows.size(); at += kSendBatch) {
    const size_t end = std::min(rows.size(), at + kSendBatch);
    if (Status begun = sendDb_.Begin(); !begun) return begun;
    Status sent;
    for (size_t i = at; i < end && sent; ++i) sent = SendRow(rows[i]);
    if (sent) sent = sendDb_.Commit();
    if (sent) {
      for (size_t i = at; i < end; ++i)
        delivered_[{rows[i].station, rows[i].recordUid}] = rows[i].seq;
      continue;
    }
    sendDb_.Rollback();
    if (sent.noAnswer) return sent;
    // A row the database refused: the others go one by one, and that one is kept apart.
    for (size_t i = at; i < end; ++i) {
      if (Status begun = sendDb_.Begin(); !begun) return begun;
      Status one = SendRow(rows[i]);
      if (one) one = sendDb_.Commit();
      if (one) {
        delivered_[{rows[i].station, rows[i].recordUid}] = rows[i].seq;
        continue;
      }
      sendDb_.Rollback();
      if (one.noAnswer) return one;
      const OutboxRow& r = rows[i];
      const Status kept = sendDb_.Exec(
          Phrase::Literal("a refused row"),
          "INSERT INTO korvel.refused_units(station, record_uid, local_id, outbox_seq, pc, "
          "time_utc, time_local, settings_file, result, failed_step, set_tx_ms, rx_serial, "
          "tx_serial, rx_id, tx_id, rx_vid, rx_pid, rx_version, settings_hash, given, reason, "
          "shared_serials) "
          "VALUES ($1::text, $2::text, $3::bigint, $4::bigint, $5::text, $6::timestamptz, "
          "$7::text, $8::text, $9::text, $10::text, $11::bigint, $12::text, $13::text, $14::text, "
          "$15::text, $16::integer, $17::integer, $18::integer, $19::text, $20::boolean, "
          "$21::text, $22::integer) ON CONFLICT (station, record_uid, local_id) DO NOTHING",
          RowParameters(r, one.failure.English()));
      if (!kept) return kept;
    }
  }
  return {};
}

Status FleetLink::SendRow(const OutboxRow& r) {
  const Result<PgRows> inserted = sendDb_.Query(
      Phrase::Literal("a unit's row"),
      "WITH s AS (INSERT INTO korvel.settings(fingerprint, keys) SELECT $19::text, $21::text "
      "WHERE $21::text <> '' ON CONFLICT DO NOTHING) "
      "INSERT INTO korvel.units(station, record_uid, local_id, outbox_seq, pc, time_utc, "
      "time_local, settings_file, result, failed_step, set_tx_ms, rx_serial, tx_serial, rx_id, "
      "tx_id, rx_vid, rx_pid, rx_version, settings_hash, given, shared_serials) VALUES ("
      "$1::text, $2::text, $3::bigint, $4::bigint, $5::text, $6::timestamptz, $7::text, "
      "$8::text, $9::text, $10::text, $11::bigint, $12::text, $13::text, $14::text, $15::text, "
      "$16::integer, $17::integer, $18::integer, $19::text, $20::boolean, $22::integer) "
      "ON CONFLICT (station, record_uid, local_id) DO NOTHING RETURNING id",
      RowParameters(r, r.settingsKeys));
  if (!inserted) return inserted.status;
  // Already there (sent before a kill, or by another station on the same record).
  if (inserted->Count() == 0 || !r.row.given) return {};
  std::vector<std::string> keys;
  std::vector<int64_t> values;
  for (const SeriesNumber& n : r.numbers)
    if (n.value >= 0) {
      keys.push_back(n.series);
      values.push_back(n.value);
    }
  if (keys.empty()) return {};
  const Result<PgRows> given = sendDb_.Query(
      Phrase::Literal("a unit's numbers"),
      "INSERT INTO korvel.given_numbers(series_id, value, unit_id) SELECT se.id, n.value, "
      "$1::bigint FROM unnest($2::text[], $3::bigint[]) AS n(key, value) JOIN korvel.series se "
      "ON se.key = n.key RETURNING value",
      {inserted->Text(0, 0), PgTextArray(keys), PgIntArray(values)});
  if (!given) return given.status;
  if (given->Count() != int(keys.size()))
    return Status::Failed(Phrase::Literal("a series of the unit's numbers is unknown here"));
  return {};
}

}  // namespace korvel
