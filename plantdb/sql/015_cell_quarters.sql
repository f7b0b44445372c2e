-- Version 15: the cell records that count (no void line, not voided, as
-- cells_counted has them), summed up per station and quarter of an hour,
-- kept by the database as records arrive: a board asks for a station's day
-- many times a minute, and a day's records are thousands. A void line takes
-- its record back out of its record's quarter; a record whose void line came
-- first is never counted. An advisory lock makes writers of records take
-- turns here, so a record and its void line written at once by two ingests
-- still meet.
CREATE TABLE IF NOT EXISTS cell_quarters (
    quarter timestamptz NOT NULL,
    station text NOT NULL,
    cells   bigint NOT NULL,
    pass    bigint NOT NULL,
    ng      bigint NOT NULL,
    with_k  bigint NOT NULL,
    PRIMARY KEY (station, quarter)
);

-- Void lines by what they void, NG records by station and time, records by
-- name: "not voided", "last NG" and "the record a void line voids" are
-- looked up there instead of through a day.
CREATE INDEX IF NOT EXISTS cells_voids ON cells (station, voids) WHERE coalesce(voids, '') <> '';
CREATE INDEX IF NOT EXISTS cells_ng ON cells (station, time) WHERE verdict = 'NG';
CREATE INDEX IF NOT EXISTS cells_record ON cells (station, record);

CREATE OR REPLACE FUNCTION cell_quarters_add() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    PERFORM pg_advisory_xact_lock(20261215, 1);
    -- Planned anew each time (EXECUTE): a plan cached while the table was
    -- small would scan it whole once it is not.
    EXECUTE $q$
    WITH counted AS (
        -- records of this statement with no void line anywhere (the table
        -- holds this statement's rows already)
        SELECT a.station, a.time, a.verdict, a.k_mv_day, 1 AS sign FROM added a
        WHERE coalesce(a.voids, '') = ''
          AND NOT EXISTS (SELECT 1 FROM cells v WHERE v.station = a.station AND coalesce(v.voids, '') <> '' AND v.voids = a.record)
        UNION ALL
        -- records counted before, voided now: their first void line is of this statement
        SELECT r.station, r.time, r.verdict, r.k_mv_day, -1 FROM (SELECT DISTINCT station, voids FROM added WHERE coalesce(voids, '') <> '') v
        JOIN cells r ON r.station = v.station AND r.record = v.voids AND coalesce(r.voids, '') = ''
        WHERE NOT EXISTS (SELECT 1 FROM added a WHERE a.station = r.station AND a.id = r.id)
          AND NOT EXISTS (SELECT 1 FROM cells o WHERE o.station = v.station AND coalesce(o.voids, '') <> '' AND o.voids = v.voids
                          AND NOT EXISTS (SELECT 1 FROM added a WHERE a.station = o.station AND a.id = o.id))
    )
    INSERT INTO cell_quarters AS t
    SELECT date_bin('15 minutes', time, TIMESTAMPTZ '2000-01-01 00:00:00+00'), station, sum(sign),
           coalesce(sum(sign) FILTER (WHERE verdict = 'PASS'), 0), coalesce(sum(sign) FILTER (WHERE verdict = 'NG'), 0),
           coalesce(sum(sign) FILTER (WHERE k_mv_day IS NOT NULL), 0)
    FROM counted
    GROUP BY 1, 2
    ON CONFLICT (station, quarter) DO UPDATE SET
        cells = t.cells + excluded.cells, pass = t.pass + excluded.pass, ng = t.ng + excluded.ng, with_k = t.with_k + excluded.with_k
    $q$;
    RETURN NULL;
END
$$;

DROP TRIGGER IF EXISTS cells_quarters ON cells;
CREATE TRIGGER cells_quarters AFTER INSERT ON cells
    REFERENCING NEW TABLE AS added FOR EACH STATEMENT EXECUTE FUNCTION cell_quarters_add();

-- What was there before this version, summed up once (cells_counted's
-- rule; the view itself predates k_mv_day).
INSERT INTO cell_quarters
SELECT date_bin('15 minutes', time, TIMESTAMPTZ '2000-01-01 00:00:00+00'), station, count(*),
       count(*) FILTER (WHERE verdict = 'PASS'), count(*) FILTER (WHERE verdict = 'NG'), count(k_mv_day)
FROM cells c
WHERE coalesce(c.voids, '') = ''
  AND NOT EXISTS (SELECT 1 FROM cells v WHERE v.station = c.station AND coalesce(v.voids, '') <> '' AND v.voids = c.record)
GROUP BY 1, 2
ON CONFLICT (station, quarter) DO NOTHING;
