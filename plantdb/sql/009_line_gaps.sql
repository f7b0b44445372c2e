-- Version 9: which lines of each station's files the database lacks. Every
-- message id names its station, stream, day and line (the station's file of
-- that day; line 1 is the header, so data starts at 2), so the lines missing
-- between two that arrived are known: a broker that lost what it had taken
-- (killed between autosaves) leaves such a gap. Lines after the last one
-- that arrived cannot be seen from here. A header written again inside a
-- file, or a line torn by a power cut, is never sent and shows as a gap of
-- one line.
CREATE VIEW line_gaps AS
SELECT station, stream, day, before + 1 AS first_missing, line - 1 AS last_missing, line - before - 1 AS lines
FROM (SELECT station, stream, day, line, coalesce(lag(line) OVER (PARTITION BY station, stream, day ORDER BY line), 1) AS before
      FROM (SELECT split_part(id, '/', 1) AS station, split_part(id, '/', 2) AS stream, split_part(id, '/', 3) AS day,
                   split_part(id, '/', 4)::bigint AS line
            FROM message_ids
            WHERE id ~ '^[^/]+/[a-z]+/[0-9]{4}-[0-9]{2}-[0-9]{2}/[0-9]{1,15}$') ids) numbered
WHERE line > before + 1;
