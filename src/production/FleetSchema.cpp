#include "production/FleetSchema.h"

#include <functional>
#include <iterator>
#include <string>

namespace korvel {

namespace {
// Concurrent `db init` runs take this lock (pg_advisory_xact_lock) before they look.
constexpr const char* kInitLock = "7310420518";

constexpr const char* kBootstrap = R"sql(
CREATE SCHEMA IF NOT EXISTS korvel;
CREATE TABLE IF NOT EXISTS korvel.schema_version(
  version integer PRIMARY KEY,
  applied_at timestamptz NOT NULL DEFAULT now());
)sql";

// Version 1. A series is what makes two stations' numbers collide; its counter hands out
// blocks (leases), each a station's until used, returned or expired. Every number a unit got
// is in given_numbers, unique per series; the units' own UNIQUE indexes are the last guard.
constexpr const char* kVersion1 = R"sql(
SET LOCAL search_path = korvel, pg_catalog;
CREATE TABLE korvel.config(
  key text PRIMARY KEY,
  value text NOT NULL);
INSERT INTO korvel.config VALUES
  ('lease_expiry_seconds', '86400'),
  ('database_uid', gen_random_uuid()::text);

CREATE TABLE korvel.series(
  id serial PRIMARY KEY,
  key text NOT NULL UNIQUE,
  generator text NOT NULL CHECK (generator IN ('RXSN', 'TXSN', 'RXRFID', 'TXRFID')),
  max_value bigint NOT NULL CHECK (max_value >= 0),
  first_value bigint NOT NULL,
  next_value bigint NOT NULL,
  created_at timestamptz NOT NULL DEFAULT now());

CREATE TABLE korvel.leases(
  id bigserial PRIMARY KEY,
  series_id integer NOT NULL REFERENCES korvel.series,
  station text NOT NULL,
  kind text NOT NULL CHECK (kind IN ('block', 'pool', 'skipped')),
  lo bigint NOT NULL,
  hi bigint NOT NULL,
  size bigint NOT NULL,
  state text NOT NULL CHECK (state IN ('held', 'returned', 'skipped')),
  leased_at timestamptz NOT NULL DEFAULT now(),
  expires_at timestamptz,
  closed_at timestamptz,
  returned_from bigint,
  returned_count bigint NOT NULL DEFAULT 0,
  CHECK (lo <= hi));
CREATE INDEX leases_by_series ON korvel.leases(series_id, lo);
CREATE INDEX leases_by_station ON korvel.leases(station, state);

CREATE TABLE korvel.pool_ids(
  series_id integer NOT NULL REFERENCES korvel.series,
  value bigint NOT NULL,
  lease_id bigint NOT NULL REFERENCES korvel.leases,
  PRIMARY KEY (series_id, value));
CREATE INDEX pool_ids_by_lease ON korvel.pool_ids(lease_id);

CREATE TABLE korvel.settings(
  fingerprint text PRIMARY KEY,
  keys text NOT NULL,
  first_seen timestamptz NOT NULL DEFAULT now());

CREATE TABLE korvel.units(
  id bigserial PRIMARY KEY,
  station text NOT NULL,
  record_uid text NOT NULL,
  local_id bigint NOT NULL,
  outbox_seq bigint NOT NULL,
  pc text NOT NULL,
  time_utc timestamptz NOT NULL,
  time_local text NOT NULL,
  settings_file text NOT NULL,
  result text NOT NULL CHECK (result IN ('PASS', 'FAIL')),
  failed_step text NOT NULL DEFAULT '',
  set_tx_ms bigint NOT NULL DEFAULT 0,
  rx_serial text, tx_serial text, rx_id text, tx_id text,
  rx_vid integer, rx_pid integer, rx_version integer,
  settings_hash text NOT NULL,
  given boolean NOT NULL,
  -- 1: the RX serial, 2: the TX serial is a batch code every unit of a batch carries.
  shared_serials integer NOT NULL DEFAULT 0,
  received_at timestamptz NOT NULL DEFAULT now(),
  UNIQUE (station, record_uid, local_id));
CREATE UNIQUE INDEX units_given_rx_serial ON korvel.units(rx_serial)
  WHERE given AND rx_serial IS NOT NULL AND shared_serials & 1 = 0;
CREATE UNIQUE INDEX units_given_tx_serial ON korvel.units(tx_serial)
  WHERE given AND tx_serial IS NOT NULL AND shared_serials & 2 = 0;
CREATE UNIQUE INDEX units_given_rx_id ON korvel.units(rx_id) WHERE given AND rx_id IS NOT NULL;
CREATE UNIQUE INDEX units_given_tx_id ON korvel.units(tx_id) WHERE given AND tx_id IS NOT NULL;
CREATE INDEX units_by_time ON korvel.units(time_local);
CREATE INDEX units_by_outbox ON korvel.units(record_uid, station, outbox_seq);

CREATE TABLE korvel.given_numbers(
  series_id integer NOT NULL REFERENCES korvel.series,
  value bigint NOT NULL,
  unit_id bigint NOT NULL REFERENCES korvel.units,
  PRIMARY KEY (series_id, value));

-- Rows the last guard refused (a number given twice): kept, never dropped, for the admin.
CREATE TABLE korvel.refused_units(
  id bigserial PRIMARY KEY,
  station text NOT NULL,
  record_uid text NOT NULL,
  local_id bigint NOT NULL,
  outbox_seq bigint NOT NULL,
  pc text NOT NULL,
  time_utc timestamptz NOT NULL,
  time_local text NOT NULL,
  settings_file text NOT NULL,
  result text NOT NULL,
  failed_step text NOT NULL DEFAULT '',
  set_tx_ms bigint NOT NULL DEFAULT 0,
  rx_serial text, tx_serial text, rx_id text, tx_id text,
  rx_vid integer, rx_pid integer, rx_version integer,
  settings_hash text NOT NULL,
  given boolean NOT NULL,
  shared_serials integer NOT NULL DEFAULT 0,
  reason text NOT NULL,
  refused_at timestamptz NOT NULL DEFAULT now(),
  UNIQUE (station, record_uid, local_id));

-- A block of a series' counter: from where the counter stands, or from the station's own
-- next number when that is above it (the numbers jumped over are recorded as skipped).
CREATE FUNCTION korvel.lease_block(p_series text, p_generator text, p_max bigint,
    p_station text, p_count integer, p_wish bigint)
  RETURNS TABLE(lease_id bigint, lo bigint, hi bigint, expires_in double precision,
                taken bigint[], database_uid text)
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = korvel, pg_temp AS $fn$
#variable_conflict use_column
DECLARE
  s series;
  v_lo bigint;
  v_hi bigint;
  v_id bigint;
  v_secs double precision;
BEGIN
  IF p_count IS NULL OR p_count < 1 OR p_count > 100000 THEN
    RAISE EXCEPTION 'a lease of % numbers', p_count USING ERRCODE = '22023';
  END IF;
  INSERT INTO series(key, generator, max_value, first_value, next_value)
    VALUES (p_series, p_generator, p_max, greatest(coalesce(p_wish, 0), 0),
            greatest(coalesce(p_wish, 0), 0))
    ON CONFLICT (key) DO NOTHING;
  SELECT * INTO s FROM series WHERE key = p_series FOR UPDATE;
  v_lo := greatest(s.next_value, coalesce(p_wish, 0));
  IF v_lo > s.max_value THEN
    RAISE EXCEPTION 'series % has no numbers left (next %, last %)', p_series, v_lo, s.max_value
      USING ERRCODE = 'KV001';
  END IF;
  IF v_lo > s.next_value THEN
    INSERT INTO leases(series_id, station, kind, lo, hi, size, state)
      VALUES (s.id, p_station, 'skipped', s.next_value, v_lo - 1, v_lo - s.next_value, 'skipped');
  END IF;
  v_hi := least(v_lo + p_count - 1, s.max_value);
  UPDATE series SET next_value = v_hi + 1 WHERE id = s.id;
  v_secs := (SELECT c.value::double precision FROM config c WHERE c.key = 'lease_expiry_seconds');
  INSERT INTO leases(series_id, station, kind, lo, hi, size, state, expires_at)
    VALUES (s.id, p_station, 'block', v_lo, v_hi, v_hi - v_lo + 1, 'held',
            now() + make_interval(secs => v_secs))
    RETURNING id INTO v_id;
  RETURN QUERY SELECT v_id, v_lo, v_hi, v_secs,
    coalesce((SELECT array_agg(p.value ORDER BY p.value) FROM pool_ids p
              WHERE p.series_id = s.id AND p.value BETWEEN v_lo AND v_hi), '{}'::bigint[]),
    (SELECT c.value FROM config c WHERE c.key = 'database_uid');
END
$fn$;

-- Random link IDs the station drew: each reserved for it unless another station has it or it
-- lies in a block of the same generator's custom IDs.
CREATE FUNCTION korvel.reserve_ids(p_series text, p_generator text, p_max bigint,
    p_station text, p_ids bigint[])
  RETURNS TABLE(lease_id bigint, granted bigint[], expires_in double precision,
                database_uid text)
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = korvel, pg_temp AS $fn$
#variable_conflict use_column
DECLARE
  s series;
  v_id bigint;
  v_secs double precision;
  v_got bigint[];
BEGIN
  IF p_ids IS NULL OR cardinality(p_ids) < 1 OR cardinality(p_ids) > 100000 THEN
    RAISE EXCEPTION 'a reservation of % IDs', cardinality(p_ids) USING ERRCODE = '22023';
  END IF;
  INSERT INTO series(key, generator, max_value, first_value, next_value)
    VALUES (p_series, p_generator, p_max, 0, 0)
    ON CONFLICT (key) DO NOTHING;
  SELECT * INTO s FROM series WHERE key = p_series FOR UPDATE;
  v_secs := (SELECT c.value::double precision FROM config c WHERE c.key = 'lease_expiry_seconds');
  INSERT INTO leases(series_id, station, kind, lo, hi, size, state, expires_at)
    VALUES (s.id, p_station, 'pool', 0, 0, 0, 'held', now() + make_interval(secs => v_secs))
    RETURNING id INTO v_id;
  WITH candidates AS (
    SELECT DISTINCT c.v FROM unnest(p_ids) AS c(v)
    WHERE c.v BETWEEN 0 AND s.max_value
      AND NOT EXISTS (SELECT 1 FROM given_numbers g WHERE g.series_id = s.id AND g.value = c.v)
      AND NOT EXISTS (
        SELECT 1 FROM (SELECT l.hi FROM leases l
                       WHERE l.series_id = s.id AND l.kind = 'block' AND l.lo <= c.v
                       ORDER BY l.lo DESC LIMIT 1) b
        WHERE b.hi >= c.v)),
  ins AS (
    INSERT INTO pool_ids(series_id, value, lease_id)
      SELECT s.id, c.v, v_id FROM candidates c
      ON CONFLICT DO NOTHING RETURNING value)
  SELECT array_agg(i.value ORDER BY i.value) INTO v_got FROM ins i;
  IF v_got IS NULL THEN
    DELETE FROM leases WHERE id = v_id;
    RETURN QUERY SELECT NULL::bigint, '{}'::bigint[], v_secs,
      (SELECT c.value FROM config c WHERE c.key = 'database_uid');
    RETURN;
  END IF;
  UPDATE leases SET lo = v_got[1], hi = v_got[cardinality(v_got)], size = cardinality(v_got)
    WHERE id = v_id;
  RETURN QUERY SELECT v_id, v_got, v_secs, (SELECT c.value FROM config c WHERE c.key = 'database_uid');
END
$fn$;

-- A station gives back what it did not use of a block: from p_from on. When nobody leased
-- after it, the counter takes the numbers back and no gap remains.
CREATE FUNCTION korvel.return_lease(p_lease bigint, p_station text, p_from bigint)
  RETURNS text
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = korvel, pg_temp AS $fn$
#variable_conflict use_column
DECLARE
  l leases;
  s series;
  v_from bigint;
BEGIN
  SELECT * INTO l FROM leases WHERE id = p_lease FOR UPDATE;
  IF NOT FOUND OR l.station <> p_station OR l.state <> 'held' OR l.kind <> 'block' THEN
    RETURN 'not held';
  END IF;
  IF l.expires_at < now() THEN
    RETURN 'expired';
  END IF;
  SELECT * INTO s FROM series WHERE id = l.series_id FOR UPDATE;
  v_from := greatest(p_from, l.lo);
  IF v_from > l.hi THEN
    UPDATE leases SET state = 'returned', closed_at = now() WHERE id = l.id;
    RETURN 'used';
  END IF;
  IF s.next_value = l.hi + 1 THEN
    UPDATE series SET next_value = v_from WHERE id = s.id;
    IF v_from = l.lo THEN
      DELETE FROM leases WHERE id = l.id;
    ELSE
      UPDATE leases SET hi = v_from - 1, size = v_from - l.lo, state = 'returned',
                        closed_at = now()
        WHERE id = l.id;
    END IF;
    RETURN 'taken back';
  END IF;
  UPDATE leases SET state = 'returned', returned_from = v_from,
                    returned_count = l.hi - v_from + 1, closed_at = now()
    WHERE id = l.id;
  RETURN 'returned';
END
$fn$;

-- The random IDs of a pool the station did not use are free again.
CREATE FUNCTION korvel.return_pool(p_lease bigint, p_station text, p_unused bigint[])
  RETURNS text
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = korvel, pg_temp AS $fn$
#variable_conflict use_column
DECLARE
  l leases;
  v_count bigint;
BEGIN
  SELECT * INTO l FROM leases WHERE id = p_lease FOR UPDATE;
  IF NOT FOUND OR l.station <> p_station OR l.state <> 'held' OR l.kind <> 'pool' THEN
    RETURN 'not held';
  END IF;
  IF l.expires_at < now() THEN
    RETURN 'expired';
  END IF;
  DELETE FROM pool_ids p
    WHERE p.lease_id = l.id AND p.value = ANY(p_unused)
      AND NOT EXISTS (SELECT 1 FROM given_numbers g
                      WHERE g.series_id = p.series_id AND g.value = p.value);
  GET DIAGNOSTICS v_count = ROW_COUNT;
  UPDATE leases SET state = 'returned', returned_count = v_count, closed_at = now()
    WHERE id = l.id;
  RETURN 'returned';
END
$fn$;

-- Every lease with what became of its numbers. A held lease past its time is expired: its
-- numbers no unit got are unused, with that reason.
CREATE VIEW korvel.lease_usage AS
SELECT l.id, s.key AS series, s.generator, l.station, l.kind, l.lo, l.hi, l.size,
  CASE WHEN l.state = 'held' AND l.expires_at < now() THEN 'expired' ELSE l.state END AS state,
  l.leased_at, l.expires_at, l.closed_at, l.returned_from, l.returned_count,
  CASE WHEN l.kind = 'pool' THEN
    (SELECT count(*) FROM pool_ids p JOIN given_numbers g
       ON g.series_id = p.series_id AND g.value = p.value WHERE p.lease_id = l.id)
  ELSE
    (SELECT count(*) FROM given_numbers g
       WHERE g.series_id = l.series_id AND g.value BETWEEN l.lo AND l.hi)
  END AS used
FROM korvel.leases l JOIN korvel.series s ON s.id = l.series_id;

-- Each series: its counter, and the numbers below it that no lease explains (always 0).
CREATE VIEW korvel.series_usage AS
SELECT s.id, s.key, s.generator, s.first_value, s.next_value, s.max_value,
  coalesce((SELECT sum(l.size) FROM korvel.leases l
            WHERE l.series_id = s.id AND l.kind IN ('block', 'skipped')), 0) AS leased,
  (s.next_value - s.first_value) -
    coalesce((SELECT sum(l.size) FROM korvel.leases l
              WHERE l.series_id = s.id AND l.kind IN ('block', 'skipped')), 0) AS holes
FROM korvel.series s;
)sql";

// Upgrade n (1-based) brings the schema from version n - 1 to n.
constexpr const char* kUpgrades[] = {kVersion1};
static_assert(std::size(kUpgrades) == kFleetSchemaVersion);

// The line's page reads by these. Not an upgrade: they change nothing a station reads or
// writes, so a database made before (without them) gets them at its next db init and older
// programs go on using it. Local times are compared byte by byte, as SQLite compares the
// station's record, whatever the database's collation. The station beside the time finds each
// station's latest run of the week in the index alone; the unit's key is the expression the
// reader's look-up uses, word for word. An expression has no statistics until the table is
// analysed, and a table of a year's rows is analysed again only after a tenth of it changed:
// until then the planner takes a day's units for most of the table and reads all of it.
constexpr const char* kIndexes = R"sql(
CREATE INDEX IF NOT EXISTS units_by_local_time
  ON korvel.units(time_local COLLATE "C", id) INCLUDE (station);
CREATE INDEX IF NOT EXISTS units_by_unit
  ON korvel.units((COALESCE(rx_serial, tx_serial, rx_id)), time_local COLLATE "C", id);
ANALYZE korvel.units;
)sql";

// Roles are the cluster's, not the database's: another database may have made them already,
// or be making them right now.
constexpr const char* kRoles = R"sql(
DO $$
DECLARE r text;
BEGIN
  FOREACH r IN ARRAY ARRAY['korvel_station', 'korvel_reader', 'korvel_admin'] LOOP
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = r) THEN
      BEGIN
        EXECUTE format('CREATE ROLE %I NOLOGIN', r);
      EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL;
      END;
    END IF;
  END LOOP;
END
$$;
)sql";

// A station leases, inserts rows and reads; a reader reads; only the admin (and the owner who
// ran db init) changes or deletes.
constexpr const char* kGrants = R"sql(
REVOKE ALL ON ALL TABLES IN SCHEMA korvel FROM PUBLIC;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA korvel FROM PUBLIC;
GRANT USAGE ON SCHEMA korvel TO korvel_station, korvel_reader, korvel_admin;
GRANT SELECT ON ALL TABLES IN SCHEMA korvel TO korvel_station, korvel_reader;
GRANT INSERT ON korvel.units, korvel.given_numbers, korvel.settings, korvel.refused_units
  TO korvel_station;
GRANT USAGE ON SEQUENCE korvel.units_id_seq, korvel.refused_units_id_seq TO korvel_station;
GRANT EXECUTE ON ALL FUNCTIONS IN SCHEMA korvel TO korvel_station;
GRANT ALL ON ALL TABLES IN SCHEMA korvel TO korvel_admin;
GRANT ALL ON ALL SEQUENCES IN SCHEMA korvel TO korvel_admin;
GRANT EXECUTE ON ALL FUNCTIONS IN SCHEMA korvel TO korvel_admin;
)sql";

Status Locked(PgSession& db) {
  return db.Exec(Phrase::Literal("the lock of db init"),
                 std::string("SELECT pg_advisory_xact_lock(") + kInitLock + ")");
}

Result<int> CurrentVersion(PgSession& db) {
  const Result<PgRows> rows =
      db.Query(Phrase::Literal("the schema version"),
               "SELECT coalesce(max(version), 0) FROM korvel.schema_version");
  if (!rows) return rows.status;
  return int(rows->Int(0, 0));
}

// One step in one transaction: nothing half done stays behind.
Status InTransaction(PgSession& db, const std::function<Status()>& step) {
  if (Status begun = db.Begin(); !begun) return begun;
  Status done = step();
  if (done) done = db.Commit();
  if (!done) db.Rollback();
  return done;
}
}  // namespace

Result<FleetInitReport> InitFleetDatabase(PgSession& db, const FleetInitOptions& options) {
  FleetInitReport report;
  Status done = InTransaction(db, [&]() -> Status {
    if (Status locked = Locked(db); !locked) return locked;
    if (Status made = db.Exec(Phrase::Literal("the schema"), kBootstrap); !made) return made;
    const Result<int> version = CurrentVersion(db);
    if (!version) return version.status;
    report.fromVersion = *version;
    return {};
  });
  if (!done) return done;
  if (report.fromVersion > kFleetSchemaVersion)
    return Status::Failed(
        Say("the fleet database's tables are version {0}, newer than this program's {1}: use a "
            "newer korvel-rf",
            report.fromVersion, kFleetSchemaVersion));
  for (int to = report.fromVersion + 1; to <= kFleetSchemaVersion; ++to) {
    done = InTransaction(db, [&]() -> Status {
      if (Status locked = Locked(db); !locked) return locked;
      // Another db init may have taken this step while we waited.
      const Result<int> now = CurrentVersion(db);
      if (!now) return now.status;
      if (*now >= to) return {};
      if (Status upgraded = db.Exec(Phrase::Literal("the schema upgrade"), kUpgrades[to - 1]);
          !upgraded)
        return upgraded;
      return db.Exec(Phrase::Literal("the schema version"),
                     "INSERT INTO korvel.schema_version(version) VALUES ($1)",
                     {std::to_string(to)});
    });
    if (!done) return done;
  }
  report.toVersion = kFleetSchemaVersion;
  done = InTransaction(db, [&]() -> Status {
    if (Status locked = Locked(db); !locked) return locked;
    if (Status indexes = db.Exec(Phrase::Literal("the indexes"), kIndexes); !indexes)
      return indexes;
    if (Status roles = db.Exec(Phrase::Literal("the roles"), kRoles); !roles) return roles;
    if (Status grants = db.Exec(Phrase::Literal("the grants"), kGrants); !grants) return grants;
    if (!options.leaseExpirySeconds) return {};
    return db.Exec(Phrase::Literal("the lease expiry"),
                   "UPDATE korvel.config SET value = $1 WHERE key = 'lease_expiry_seconds'",
                   {std::to_string(*options.leaseExpirySeconds)});
  });
  if (!done) return done;
  return report;
}

Result<FleetIdentity> CheckFleetSchema(PgSession& db) {
  const Result<PgRows> rows =
      db.Query(Phrase::Literal("the schema version"),
               "SELECT (SELECT max(version) FROM korvel.schema_version),"
               " (SELECT value FROM korvel.config WHERE key = 'database_uid')");
  if (!rows) {
    const std::string& state = db.LastState();
    if (state == kPgUndefinedTable || state == kPgInvalidSchema)
      return Status::Failed(
          Say("the fleet database has no tables of this tool: run korvel-rf db init"));
    if (state == kPgInsufficientPrivilege)
      return Status::Failed(
          Say("this user may not use the fleet database: make it a member of {0} (or {1})",
              kFleetStationRole, kFleetReaderRole));
    return rows.status;
  }
  FleetIdentity identity{int(rows->Int(0, 0)), rows->Text(0, 1)};
  if (identity.version < kFleetSchemaVersion)
    return Status::Failed(
        Say("the fleet database's tables are version {0}, this program needs {1}: run korvel-rf "
            "db init",
            identity.version, kFleetSchemaVersion));
  if (identity.version > kFleetSchemaVersion)
    return Status::Failed(
        Say("the fleet database's tables are version {0}, newer than this program's {1}: use a "
            "newer korvel-rf",
            identity.version, kFleetSchemaVersion));
  return identity;
}

}  // namespace korvel
