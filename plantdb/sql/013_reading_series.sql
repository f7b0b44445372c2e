-- Version 13: the readings a control chart takes, packed per station and
-- quarter of an hour (each statement may run again over itself: a database
-- set back to an older version is brought up again). A report's control
-- charts walk every reading of a
-- month in time order three times (trial limits, revised limits, rules);
-- shipping ten million rows for that costs ten times a plain scan, a few
-- thousand packed rows next to nothing.
--
-- A quarter is sealed (packed into reading_series) once it has ended and
-- settled; until then, and again from the moment a late reading arrives in
-- it, it waits in reading_series_due and a report packs it itself through
-- reading_series_build. A (quarter, station) with readings within the
-- meter's range is in exactly one of the two tables.

-- Each reading 24 bytes, in time order (then the meter's seq, then id): its
-- time in microseconds since 1970 UTC (int8), R in mΩ and V (float8), all
-- big-endian; NaN where a value is missing. Only readings within the
-- meter's range.
CREATE TABLE IF NOT EXISTS reading_series (
    quarter timestamptz NOT NULL,
    station text NOT NULL,
    r_low   double precision,
    r_high  double precision,
    v_low   double precision,
    v_high  double precision,
    n       integer NOT NULL,
    points  bytea NOT NULL,
    UNIQUE NULLS NOT DISTINCT (quarter, station, r_low, r_high, v_low, v_high)
);
-- Measured values hardly compress, and a report reads these whole.
ALTER TABLE reading_series ALTER COLUMN points SET STORAGE EXTERNAL;

CREATE TABLE IF NOT EXISTS reading_series_due (
    quarter timestamptz NOT NULL,
    station text NOT NULL,
    PRIMARY KEY (quarter, station)
);

-- One station's quarter packed, a row per set of limits. Inlined by the
-- planner (one SELECT, stable): a report's COPY streams it.
CREATE OR REPLACE FUNCTION reading_series_build(q timestamptz, s text)
    RETURNS TABLE (r_low double precision, r_high double precision, v_low double precision, v_high double precision,
                   n integer, points bytea)
    LANGUAGE sql STABLE
    AS $$
    SELECT r_low, r_high, v_low, v_high, count(*)::integer,
           string_agg(int8send((extract(epoch FROM time) * 1000000)::bigint)
                      || float8send(coalesce(r_mohm, 'NaN')) || float8send(coalesce(v, 'NaN')),
                      ''::bytea ORDER BY time, seq, id)
    FROM readings
    WHERE station = s AND time >= q AND time < q + interval '15 minutes' AND within_meter_range(r_mohm, v)
    GROUP BY r_low, r_high, v_low, v_high
$$;

-- Sealing and a late reading's unsealing exclude each other (this lock:
-- shared for writers, exclusive for the seal), so a reading committed while
-- its quarter is being sealed is never left out of the packed rows.
CREATE OR REPLACE FUNCTION reading_series_unseal() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    PERFORM pg_advisory_xact_lock_shared(20261213, 1);
    WITH touched AS (
        SELECT DISTINCT date_bin('15 minutes', time, TIMESTAMPTZ '2000-01-01 00:00:00+00') AS quarter, station
        FROM added WHERE within_meter_range(r_mohm, v)
    ), unsealed AS (
        DELETE FROM reading_series s USING touched t WHERE s.quarter = t.quarter AND s.station = t.station
    )
    INSERT INTO reading_series_due SELECT quarter, station FROM touched ON CONFLICT DO NOTHING;
    RETURN NULL;
END
$$;

CREATE OR REPLACE TRIGGER readings_series AFTER INSERT ON readings
    REFERENCING NEW TABLE AS added FOR EACH STATEMENT EXECUTE FUNCTION reading_series_unseal();

-- Packs up to `most` quarters that ended `settle` ago or earlier; returns
-- how many it packed (fewer than `most`: nothing more is due). Writers wait
-- while it runs, so it takes little at a time.
CREATE OR REPLACE FUNCTION reading_series_seal(settle interval DEFAULT interval '2 minutes', most integer DEFAULT 200)
    RETURNS integer LANGUAGE plpgsql AS $$
DECLARE
    sealed integer;
BEGIN
    PERFORM pg_advisory_xact_lock(20261213, 1);
    WITH ready AS (
        DELETE FROM reading_series_due
        WHERE (quarter, station) IN (SELECT quarter, station FROM reading_series_due
                                     WHERE quarter + interval '15 minutes' <= now() - settle
                                     ORDER BY quarter, station LIMIT most)
        RETURNING quarter, station
    ), packed AS (
        INSERT INTO reading_series
        SELECT r.quarter, r.station, b.* FROM ready r CROSS JOIN LATERAL reading_series_build(r.quarter, r.station) b
    )
    SELECT count(*) INTO sealed FROM ready;
    RETURN sealed;
END
$$;

-- What was there before this version waits to be sealed.
INSERT INTO reading_series_due
SELECT DISTINCT quarter, station FROM reading_quarters WHERE ok
ON CONFLICT DO NOTHING;
