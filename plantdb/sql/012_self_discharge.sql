-- Version 12: self-discharge. A cell record names the stage it was measured
-- at, its K (mV/day) and the rest it was worked out over (days), what
-- failed ("R V K") and why it has no K when its set asked for one
-- (no-earlier, short-rest). Records of older versions leave them empty.
ALTER TABLE cells ADD COLUMN IF NOT EXISTS stage text;
ALTER TABLE cells ADD COLUMN IF NOT EXISTS k_mv_day double precision;
ALTER TABLE cells ADD COLUMN IF NOT EXISTS rest_days double precision;
ALTER TABLE cells ADD COLUMN IF NOT EXISTS reason text;
ALTER TABLE cells ADD COLUMN IF NOT EXISTS k_note text;

-- A cell's whole life, as before, with the stage of each record and its K
-- (columns added at the end: queries of the older view still read).
CREATE OR REPLACE VIEW cell_history AS
SELECT cell_id, time, 'cell' AS kind, station, lot, record AS what, r_mohm, v, verdict, NULL::text AS pack,
       coalesce(stage, '') AS stage, k_mv_day
FROM cells WHERE cell_id IS NOT NULL
UNION ALL
SELECT cell_id, time, 'pack', station, lot, event, r_mohm, v, NULL, pack, NULL, NULL
FROM packs WHERE cell_id IS NOT NULL AND cell_id <> '';

-- Each cell's records that count (no void line, not voided), stage by
-- stage in the order they were taken.
CREATE OR REPLACE VIEW cell_stages AS
SELECT c.cell_id, c.time, coalesce(c.stage, '') AS stage, c.station, c.lot, c.set, c.record,
       c.r_mohm, c.v, c.verdict, c.grade, c.k_mv_day, c.rest_days, c.reason, c.k_note
FROM cells c
WHERE coalesce(c.voids, '') = '' AND coalesce(c.verdict, '') <> 'VOID' AND coalesce(c.cell_id, '') <> ''
  AND NOT EXISTS (SELECT 1 FROM cells v WHERE v.station = c.station AND v.voids = c.record)
ORDER BY c.cell_id, c.time;

-- Each record at a stage beside the cell's latest record at another stage
-- before it, and the K between them, worked out as the station does:
-- (V then − V now) × 1000 / days of rest. station_k_mv_day is what the
-- station wrote (NULL where its set asked for none).
CREATE OR REPLACE VIEW cell_k AS
SELECT later.cell_id, earlier.stage AS from_stage, later.stage, earlier.time AS from_time, later.time,
       earlier.v AS from_v, later.v,
       extract(epoch FROM later.time - earlier.time)::double precision / 86400 AS rest_days,
       (earlier.v - later.v) * 1000 / nullif(extract(epoch FROM later.time - earlier.time)::double precision / 86400, 0) AS k_mv_day,
       later.k_mv_day AS station_k_mv_day, later.station, later.lot, later.record, later.verdict, later.reason
FROM cell_stages later
JOIN LATERAL (SELECT e.stage, e.time, e.v FROM cell_stages e
              WHERE e.cell_id = later.cell_id AND e.stage <> '' AND e.stage <> later.stage AND e.time < later.time
              ORDER BY e.time DESC LIMIT 1) earlier ON true
WHERE later.stage <> '';
