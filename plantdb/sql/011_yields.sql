-- Version 11: yields that mean cells. In station mode a reading says where
-- the probes were (contact: open, settling, settled); the quarters count
-- those that say it and those taken in settled contact, so a station's
-- readings yield leaves out contact transients and lifted probes. The
-- dashboards' hours give, first, the yield of the station's cells where it
-- records cells.
ALTER TABLE readings ADD COLUMN IF NOT EXISTS contact text;
ALTER TABLE reading_quarters ADD COLUMN IF NOT EXISTS contact_known bigint NOT NULL DEFAULT 0,
                             ADD COLUMN IF NOT EXISTS settled bigint NOT NULL DEFAULT 0;

-- The quarters' trigger of version 4, now counting the contact too and
-- asking within_meter_range (version 10) what a meter can show.
CREATE OR REPLACE FUNCTION reading_quarters_add() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    INSERT INTO reading_quarters AS t
    SELECT date_bin('15 minutes', time, TIMESTAMPTZ '2000-01-01 00:00:00+00'), station, r_low, r_high, v_low, v_high, verdict,
           within_meter_range(r_mohm, v),
           count(*),
           count(r_mohm), avg(r_mohm), coalesce(var_samp(r_mohm) * (count(r_mohm) - 1), 0), min(r_mohm), max(r_mohm),
           count(v), avg(v), coalesce(var_samp(v) * (count(v) - 1), 0), min(v), max(v),
           min(time), max(time),
           count(*) FILTER (WHERE coalesce(contact, '') <> ''), count(*) FILTER (WHERE contact = 'settled')
    FROM added
    GROUP BY 1, 2, 3, 4, 5, 6, 7, 8
    ON CONFLICT (quarter, station, r_low, r_high, v_low, v_high, verdict, ok) DO UPDATE SET
        n = t.n + excluded.n,
        r_mean = CASE WHEN excluded.r_n = 0 THEN t.r_mean WHEN t.r_n = 0 THEN excluded.r_mean
                      ELSE t.r_mean + (excluded.r_mean - t.r_mean) * excluded.r_n / (t.r_n + excluded.r_n) END,
        r_m2 = CASE WHEN excluded.r_n = 0 OR t.r_n = 0 THEN t.r_m2 + excluded.r_m2
                    ELSE t.r_m2 + excluded.r_m2 + (excluded.r_mean - t.r_mean) ^ 2 * t.r_n * excluded.r_n / (t.r_n + excluded.r_n) END,
        r_n = t.r_n + excluded.r_n,
        r_min = least(t.r_min, excluded.r_min),
        r_max = greatest(t.r_max, excluded.r_max),
        v_mean = CASE WHEN excluded.v_n = 0 THEN t.v_mean WHEN t.v_n = 0 THEN excluded.v_mean
                      ELSE t.v_mean + (excluded.v_mean - t.v_mean) * excluded.v_n / (t.v_n + excluded.v_n) END,
        v_m2 = CASE WHEN excluded.v_n = 0 OR t.v_n = 0 THEN t.v_m2 + excluded.v_m2
                    ELSE t.v_m2 + excluded.v_m2 + (excluded.v_mean - t.v_mean) ^ 2 * t.v_n * excluded.v_n / (t.v_n + excluded.v_n) END,
        v_n = t.v_n + excluded.v_n,
        v_min = least(t.v_min, excluded.v_min),
        v_max = greatest(t.v_max, excluded.v_max),
        first = least(t.first, excluded.first),
        last = greatest(t.last, excluded.last),
        contact_known = t.contact_known + excluded.contact_known,
        settled = t.settled + excluded.settled;
    RETURN NULL;
END
$$;

-- yield is what a line leader means by it: the cells' where the station
-- records cells, else the settled readings', else every reading's; yield_of
-- says which. Each is also there by its own name, after the columns the
-- view had (replaced in place, so grants on it stay).
CREATE OR REPLACE VIEW station_hours AS
WITH r AS (
    SELECT station, date_trunc('hour', quarter) AS hour,
           sum(n)::bigint AS n,
           coalesce(sum(n) FILTER (WHERE verdict = 'PASS'), 0)::bigint AS pass,
           coalesce(sum(n) FILTER (WHERE verdict = 'NG'), 0)::bigint AS ng,
           sum(n) FILTER (WHERE verdict = 'PASS')::double precision
               / nullif(sum(n) FILTER (WHERE verdict IN ('PASS', 'NG')), 0) AS reading_yield,
           sum(contact_known)::bigint AS contact_known,
           sum(settled)::bigint AS settled,
           sum(settled) FILTER (WHERE verdict = 'PASS')::double precision
               / nullif(sum(settled) FILTER (WHERE verdict IN ('PASS', 'NG')), 0) AS settled_yield,
           sum(r_n * r_mean) / nullif(sum(r_n), 0) AS r_mean
    FROM reading_quarters
    GROUP BY 1, 2
), c AS (
    SELECT station, date_trunc('hour', time) AS hour,
           count(*) AS cells,
           count(*) FILTER (WHERE verdict = 'PASS')::double precision
               / nullif(count(*) FILTER (WHERE verdict IN ('PASS', 'NG')), 0) AS cell_yield
    FROM cells_counted
    GROUP BY 1, 2
)
SELECT coalesce(c.station, r.station) AS station,
       coalesce(c.hour, r.hour) AS hour,
       coalesce(r.n, 0) AS n,
       coalesce(r.pass, 0) AS pass,
       coalesce(r.ng, 0) AS ng,
       CASE WHEN c.cells > 0 THEN c.cell_yield WHEN r.contact_known > 0 THEN r.settled_yield ELSE r.reading_yield END AS yield,
       r.r_mean,
       CASE WHEN c.cells > 0 THEN 'cells' WHEN r.contact_known > 0 THEN 'settled readings' ELSE 'readings' END AS yield_of,
       coalesce(c.cells, 0) AS cells,
       c.cell_yield,
       coalesce(r.settled, 0) AS settled,
       r.settled_yield,
       r.reading_yield
FROM r FULL JOIN c ON c.station = r.station AND c.hour = r.hour;
