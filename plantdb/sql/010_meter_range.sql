-- Version 10: what a meter can show, written once. A frame carries at most
-- 1677.7215 of its unit; R is kept in mΩ, so a reading in Ω may reach
-- 1677721.5 mΩ. Anything beyond is no measurement: the quarters keep it
-- apart (ok = false) and the report skips it. One SQL expression, immutable:
-- the planner inlines it, so a scan costs what the written-out test cost.
CREATE OR REPLACE FUNCTION within_meter_range(r_mohm double precision, v double precision) RETURNS boolean
    LANGUAGE sql IMMUTABLE PARALLEL SAFE
    AS $$ SELECT ($1 IS NULL OR abs($1) <= 1677721.5) AND ($2 IS NULL OR abs($2) <= 1677.7215) $$;

-- The quarters' trigger of version 4, now asking the function.
CREATE OR REPLACE FUNCTION reading_quarters_add() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    INSERT INTO reading_quarters AS t
    SELECT date_bin('15 minutes', time, TIMESTAMPTZ '2000-01-01 00:00:00+00'), station, r_low, r_high, v_low, v_high, verdict,
           within_meter_range(r_mohm, v),
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
