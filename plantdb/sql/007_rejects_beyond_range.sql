-- Version 7: readings and cell records no meter can show (an R or V past
-- 1677.7215 of its unit) are rejects since this version, as the files'
-- report skips such lines. The report counts them as skipped lines all the
-- same, so the database and the files give the same counts: this view is
-- where it finds them (the reason's wording is the ingest's; the time and
-- station were checked before the value, so they read back).
CREATE VIEW rejects_beyond_range AS
SELECT CASE split_part(topic, '/', -1) WHEN 'reading' THEN 'readings' WHEN 'cell' THEN 'cells' ELSE 'packs' END AS stream,
       m ->> 'station' AS station,
       (m ->> 'time')::timestamptz AS time,
       m ->> 'lot' AS lot
FROM (SELECT topic, convert_from(payload, 'UTF8')::jsonb AS m
      FROM rejects WHERE reason LIKE '%, beyond what the meter can show') r;
