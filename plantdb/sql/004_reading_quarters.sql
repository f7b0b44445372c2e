-- Version 4: the readings summed up per quarter of an hour, kept by the
-- database itself as rows arrive (a statement trigger over the rows each
-- INSERT or COPY really added, so a duplicate dropped by ON CONFLICT is not
-- counted). Reports and dashboards read thousands of these rather than
-- millions of readings; a quarter of an hour lines up with local days in
-- every time zone. Moments per group: n, mean and the sum of squared
-- deviations (m2), so groups merge exactly (Chan et al.).
CREATE TABLE reading_quarters (
    quarter  timestamptz NOT NULL,
    station  text NOT NULL,
    r_low    double precision,
    r_high   double precision,
    v_low    double precision,
    v_high   double precision,
    verdict  text,
    ok       boolean NOT NULL, -- within the meter's range (a report skips the rest)
    n        bigint NOT NULL,
    r_n      bigint NOT NULL,
    r_mean   double precision,
    r_m2     double precision NOT NULL,
    r_min    double precision,
    r_max    double precision,
    v_n      bigint NOT NULL,
    v_mean   double precision,
    v_m2     double precision NOT NULL,
    v_min    double precision,
    v_max    double precision,
    first    timestamptz NOT NULL,
    last     timestamptz NOT NULL,
    UNIQUE NULLS NOT DISTINCT (quarter, station, r_low, r_high, v_low, v_high, verdict, ok)
);

CREATE FUNCTION reading_quarters_add() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    INSERT INTO reading_quarters AS t
    SELECT date_bin('15 minutes', time, TIMESTAMPTZ '2000-01-01 00:00:00+00'), station, r_low, r_high, v_low, v_high, verdict,
           -- The meter shows at most 1677.7215 of its unit (R kept in mΩ).
           (r_mohm IS NULL OR abs(r_mohm) <= 1677721.5) AND (v IS NULL OR abs(v) <= 1677.7215),
           count(*),
           count(r_mohm), avg(r_mohm), coalesce(var_samp(r_mohm) * (count(r_mohm) - 1), 0), min(r_mohm), max(r_mohm),
           count(v), avg(v), coalesce(var_samp(v) * (count(v) - 1), 0), min(v), max(v),
           min(time), max(time)
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
        last = greatest(t.last, excluded.last);
    RETURN NULL;
END
$$;

CREATE TRIGGER readings_quarters AFTER INSERT ON readings
    REFERENCING NEW TABLE AS added FOR EACH STATEMENT EXECUTE FUNCTION reading_quarters_add();

-- What was there before this version, summed up once.
INSERT INTO reading_quarters
SELECT date_bin('15 minutes', time, TIMESTAMPTZ '2000-01-01 00:00:00+00'), station, r_low, r_high, v_low, v_high, verdict,
       (r_mohm IS NULL OR abs(r_mohm) <= 1677721.5) AND (v IS NULL OR abs(v) <= 1677.7215),
       count(*),
       count(r_mohm), avg(r_mohm), coalesce(var_samp(r_mohm) * (count(r_mohm) - 1), 0), min(r_mohm), max(r_mohm),
       count(v), avg(v), coalesce(var_samp(v) * (count(v) - 1), 0), min(v), max(v),
       min(time), max(time)
FROM readings
GROUP BY 1, 2, 3, 4, 5, 6, 7, 8;
CREATE INDEX reading_quarters_quarter ON reading_quarters (quarter);

-- The dashboards' hours from the quarters: no scan of the readings.
CREATE OR REPLACE VIEW station_hours AS
SELECT station,
       date_trunc('hour', quarter) AS hour,
       sum(n)::bigint AS n,
       coalesce(sum(n) FILTER (WHERE verdict = 'PASS'), 0)::bigint AS pass,
       coalesce(sum(n) FILTER (WHERE verdict = 'NG'), 0)::bigint AS ng,
       sum(n) FILTER (WHERE verdict = 'PASS')::double precision
           / nullif(sum(n) FILTER (WHERE verdict IN ('PASS', 'NG')), 0) AS yield,
       sum(r_n * r_mean) / nullif(sum(r_n), 0) AS r_mean
FROM reading_quarters
GROUP BY station, date_trunc('hour', quarter);
