-- Zentrel's plant database, version 1: what the stations publish, one
-- table per stream, partitioned by day (UTC). Column names are the JSON
-- fields of the MQTT messages (the journal's CSV columns); the ingest reads
-- them from here, so a column added in a later version is picked up.
-- The message id is unique: with the partition key it is the primary key.

CREATE TABLE readings (
    id       text NOT NULL,
    time     timestamptz NOT NULL,
    station  text NOT NULL,
    port     text,
    seq      bigint,
    r_mohm   double precision,
    v        double precision,
    verdict  text,
    r_text   text,
    v_text   text,
    r_range  text,
    v_range  text,
    r_low    double precision,
    r_high   double precision,
    v_low    double precision,
    v_high   double precision,
    received timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (id, time)
) PARTITION BY RANGE (time);
CREATE INDEX readings_station_time ON readings (station, time);

CREATE TABLE cells (
    id         text NOT NULL,
    time       timestamptz NOT NULL,
    station    text NOT NULL,
    operator   text,
    lot        text,
    record     text,
    cell_id    text,
    r_mohm     double precision,
    v          double precision,
    verdict    text,
    grade      text,
    set        text,
    r_range    text,
    v_range    text,
    settled_by integer,
    voids      text,
    r_low      double precision,
    r_high     double precision,
    v_low      double precision,
    v_high     double precision,
    received   timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (id, time)
) PARTITION BY RANGE (time);
CREATE INDEX cells_station_time ON cells (station, time);
CREATE INDEX cells_lot ON cells (lot);
CREATE INDEX cells_cell_id ON cells (cell_id, time);

CREATE TABLE packs (
    id       text NOT NULL,
    time     timestamptz NOT NULL,
    station  text NOT NULL,
    pack     text,
    event    text,
    "group"  integer,
    slot     integer,
    cell_id  text,
    r_mohm   double precision,
    v        double precision,
    lot      text,
    record   text,
    received timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (id, time)
) PARTITION BY RANGE (time);
CREATE INDEX packs_pack ON packs (pack);
CREATE INDEX packs_cell_id ON packs (cell_id);

-- What could not be taken: kept whole, with the reason, never in the way.
-- A message sent again (it has no id of its own) is kept once: key is the
-- SHA-256 of its topic and payload.
CREATE TABLE rejects (
    n        bigserial PRIMARY KEY,
    received timestamptz NOT NULL DEFAULT now(),
    topic    text NOT NULL,
    payload  bytea NOT NULL,
    reason   text NOT NULL,
    key      bytea NOT NULL UNIQUE
);
