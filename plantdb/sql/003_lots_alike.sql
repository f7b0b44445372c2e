-- Version 3: a lot whose R values are all alike has no spread; the sums'
-- rounding must not give it a σ of 1e-16 and a Cp of 1e13.
CREATE OR REPLACE VIEW lots AS
SELECT lot,
       set,
       count(*) AS n,
       count(*) FILTER (WHERE verdict = 'PASS')::double precision
           / nullif(count(*) FILTER (WHERE verdict IN ('PASS', 'NG')), 0) AS yield,
       avg(r_mohm) AS r_mean,
       CASE WHEN min(r_mohm) < max(r_mohm) THEN stddev_samp(r_mohm) ELSE 0 END AS r_sd,
       CASE WHEN min(r_mohm) < max(r_mohm)
            THEN (max(r_high) - max(r_low)) / (6 * stddev_samp(r_mohm)) END AS r_cp,
       CASE WHEN min(r_mohm) < max(r_mohm)
            THEN least(max(r_high) - avg(r_mohm), avg(r_mohm) - max(r_low)) / (3 * stddev_samp(r_mohm)) END AS r_cpk
FROM cells_counted
GROUP BY lot, set;
