-- Version 10: what a meter can show, written once. A frame carries at most
-- 1677.7215 of its unit; R is kept in mΩ, so a reading in Ω may reach
-- 1677721.5 mΩ. Anything beyond is no measurement: the quarters keep it
-- apart (ok = false; their trigger asks this from version 11 on) and the
-- report skips it. One SQL expression, immutable:
-- the planner inlines it, so a scan costs what the written-out test cost.
CREATE OR REPLACE FUNCTION within_meter_range(r_mohm double precision, v double precision) RETURNS boolean
    LANGUAGE sql IMMUTABLE PARALLEL SAFE
    AS $$ SELECT ($1 IS NULL OR abs($1) <= 1677721.5) AND ($2 IS NULL OR abs($2) <= 1677.7215) $$;
