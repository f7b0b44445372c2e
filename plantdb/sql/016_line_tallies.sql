-- Version 16: lines at the end of a file, and files the database never got
-- a line of, are gaps too. Each station tells how many of its lines a day's
-- file holds (zentrel/<station>/tally: first and last line, and how many
-- lie between them); line_gaps reads up to that. A station whose lines
-- all arrived has no gaps, however its numbers run (a header written again,
-- a torn line, a file several meters share); one that lacks any is shown
-- the runs between what arrived, and what is missing after the last.
CREATE TABLE IF NOT EXISTS line_tallies (
    station    text NOT NULL,
    stream     text NOT NULL,
    day        date NOT NULL,
    first_line bigint NOT NULL,
    last_line  bigint NOT NULL,
    lines      bigint NOT NULL,
    received   timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (station, stream, day)
);

CREATE OR REPLACE VIEW line_gaps AS
WITH arrived AS (
    SELECT split_part(id, '/', 1) AS station, split_part(id, '/', 2) AS stream, split_part(id, '/', 3) AS day,
           split_part(id, '/', 4)::bigint AS line
    FROM message_ids
    WHERE id ~ '^[^/]+/[a-z]+/[0-9]{4}-[0-9]{2}-[0-9]{2}/[0-9]{1,15}$'),
told AS (
    SELECT station, stream, to_char(day, 'YYYY-MM-DD') AS day, first_line, last_line, lines FROM line_tallies),
whole AS (
    SELECT t.station, t.stream, t.day
    FROM told t JOIN arrived a ON a.station = t.station AND a.stream = t.stream AND a.day = t.day
                               AND a.line BETWEEN t.first_line AND t.last_line
    GROUP BY t.station, t.stream, t.day, t.lines
    HAVING count(*) >= t.lines),
runs AS (
    SELECT station, stream, day, before + 1 AS first_missing, line - 1 AS last_missing, line - before - 1 AS lines
    FROM (SELECT station, stream, day, line, coalesce(lag(line) OVER (PARTITION BY station, stream, day ORDER BY line), 1) AS before
          FROM arrived) numbered
    WHERE line > before + 1),
tails AS (
    SELECT t.station, t.stream, t.day, greatest(t.first_line, coalesce(max(a.line) + 1, t.first_line)) AS first_missing, t.last_line AS last_missing
    FROM told t LEFT JOIN arrived a ON a.station = t.station AND a.stream = t.stream AND a.day = t.day
    GROUP BY t.station, t.stream, t.day, t.first_line, t.last_line
    HAVING coalesce(max(a.line), 0) < t.last_line)
SELECT r.station, r.stream, r.day, r.first_missing, r.last_missing, r.lines
FROM runs r
WHERE NOT EXISTS (SELECT 1 FROM whole w WHERE w.station = r.station AND w.stream = r.stream AND w.day = r.day)
UNION ALL
SELECT station, stream, day, first_missing, last_missing, last_missing - first_missing + 1 FROM tails;
