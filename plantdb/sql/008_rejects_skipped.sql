-- Version 8: the rejects the files' report counts as skipped lines, for the
-- database's report: readings and cell records no meter can show (their
-- time read back) and lines whose time is no time (their day from the id,
-- station/stream/YYYY-MM-DD/line: the day of the station's file, which is
-- what the files' report goes by). Supersedes rejects_beyond_range.
CREATE VIEW rejects_skipped AS
SELECT CASE split_part(topic, '/', -1) WHEN 'reading' THEN 'readings' WHEN 'cell' THEN 'cells' ELSE 'packs' END AS stream,
       m ->> 'station' AS station,
       CASE WHEN NOT untimed THEN (m ->> 'time')::timestamptz END AS time,
       CASE WHEN untimed THEN split_part(m ->> 'id', '/', 3) END AS day,
       m ->> 'lot' AS lot
FROM (SELECT topic, convert_from(payload, 'UTF8')::jsonb AS m, reason LIKE 'field "time" is not a time%' AS untimed
      FROM rejects
      WHERE reason LIKE '%, beyond what the meter can show' OR reason LIKE 'field "time" is not a time%') r;
