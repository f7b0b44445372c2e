-- Views for dashboards (Grafana or any SQL client): per station and hour,
-- per lot, and a cell's whole history.

CREATE VIEW station_hours AS
SELECT station,
       date_trunc('hour', time) AS hour,
       count(*) AS n,
       count(*) FILTER (WHERE verdict = 'PASS') AS pass,
       count(*) FILTER (WHERE verdict = 'NG') AS ng,
       count(*) FILTER (WHERE verdict = 'PASS')::double precision
           / nullif(count(*) FILTER (WHERE verdict IN ('PASS', 'NG')), 0) AS yield,
       avg(r_mohm) AS r_mean
FROM readings
GROUP BY station, date_trunc('hour', time);

-- Cell records that count: void lines and the records they void left out.
CREATE VIEW cells_counted AS
SELECT c.* FROM cells c
WHERE coalesce(c.voids, '') = ''
  AND NOT EXISTS (SELECT 1 FROM cells v WHERE v.station = c.station AND v.voids = c.record);

CREATE VIEW lots AS
SELECT lot,
       set,
       count(*) AS n,
       count(*) FILTER (WHERE verdict = 'PASS')::double precision
           / nullif(count(*) FILTER (WHERE verdict IN ('PASS', 'NG')), 0) AS yield,
       avg(r_mohm) AS r_mean,
       stddev_samp(r_mohm) AS r_sd,
       (max(r_high) - max(r_low)) / (6 * stddev_samp(r_mohm)) AS r_cp,
       least(max(r_high) - avg(r_mohm), avg(r_mohm) - max(r_low)) / (3 * stddev_samp(r_mohm)) AS r_cpk
FROM cells_counted
GROUP BY lot, set;

CREATE VIEW cell_history AS
SELECT cell_id, time, 'cell' AS kind, station, lot, record AS what, r_mohm, v, verdict, NULL::text AS pack
FROM cells WHERE cell_id IS NOT NULL
UNION ALL
SELECT cell_id, time, 'pack', station, lot, event, r_mohm, v, NULL, pack
FROM packs WHERE cell_id IS NOT NULL AND cell_id <> '';
