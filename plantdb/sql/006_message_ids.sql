-- Version 6: a message id is stored once, whatever time it carries. The
-- stream tables are keyed by id and time (a partition key must be in every
-- unique key), so the same id with another time was a second row; ids now
-- have a table of their own, unique by id alone, filled by the database as
-- rows arrive. A row whose id is there already makes that statement fail
-- with unique_violation; the ingest then takes the batch the careful way
-- (new ids only; the same id with other content is a reject that names the
-- stored one).

CREATE TABLE message_ids (
    id   text PRIMARY KEY,
    time timestamptz NOT NULL -- the stored row's, to find it in its partition
);

-- The ids already stored: the earliest row of each counts.
INSERT INTO message_ids
SELECT DISTINCT ON (id) id, time
FROM (SELECT id, time FROM readings UNION ALL SELECT id, time FROM cells UNION ALL SELECT id, time FROM packs) stored
ORDER BY id, time;

CREATE FUNCTION message_ids_add() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    INSERT INTO message_ids SELECT id, time FROM added;
    RETURN NULL;
END $$;

CREATE TRIGGER readings_ids AFTER INSERT ON readings
    REFERENCING NEW TABLE AS added FOR EACH STATEMENT EXECUTE FUNCTION message_ids_add();
CREATE TRIGGER cells_ids AFTER INSERT ON cells
    REFERENCING NEW TABLE AS added FOR EACH STATEMENT EXECUTE FUNCTION message_ids_add();
CREATE TRIGGER packs_ids AFTER INSERT ON packs
    REFERENCING NEW TABLE AS added FOR EACH STATEMENT EXECUTE FUNCTION message_ids_add();
