-- Version 14: who writes. Each ingest (several may share one stream of
-- messages) keeps a row of its own, named by its MQTT client id, in the
-- transaction of each commit: a dashboard sees which are alive and how far
-- behind they are.
CREATE TABLE IF NOT EXISTS ingest_status (
    name        text PRIMARY KEY,      -- the ingest's MQTT client id
    host        text,                  -- the machine it runs on
    pid         integer,
    share       text,                  -- the shared subscription's group, if any
    started     timestamptz NOT NULL,  -- its connection to the database
    last_commit timestamptz,
    rows        bigint NOT NULL DEFAULT 0, -- rows it has committed, under this name, ever
    lag_ms      bigint                 -- at the last commit: its age of the newest message committed
);
