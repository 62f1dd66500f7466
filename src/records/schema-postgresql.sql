-- The record store on a shared PostgreSQL server (several front desks, one store). Run it once
-- in the database named in the [Database] section of Option.ini, e.g.
--   psql "host=dbserver dbname=doorlock user=doorlock" -f schema-postgresql.sql
-- Names are unquoted, so PostgreSQL folds them to lower case and the program's statements,
-- which use the same unquoted names, find them. Date-times are day counts since 1899-12-30 in
-- double precision, stored exactly as the program computes them.

-- One row per room, normally. No unique key: the program copes with two rows for one room.
CREATE TABLE T_Room (
    RoomNo text,
    LastCheckInTime double precision
);
CREATE INDEX IX_Room_RoomNo ON T_Room (RoomNo);

-- One row per card written.
CREATE TABLE T_IssueCardRecord (
    RegisterId text,
    CardNo text,
    RoomNo text,
    CardType integer,
    LastCheckInTime double precision,
    CheckInTime double precision,
    CheckOutTime double precision,
    IsCopy boolean,
    GuestName text,
    OpratingTime double precision
);
