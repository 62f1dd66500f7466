-- Client.db, the record store beside the program (SQLite). The build makes it from this file;
-- the program only reads and writes rows. Date-times are day counts since 1899-12-30 (REAL),
-- stored exactly as the program computes them.

-- One row per room, normally. No unique key: a file may hold two rows for one room, and the
-- program copes with that.
CREATE TABLE T_Room (
    RoomNo TEXT,
    LastCheckInTime REAL
);
CREATE INDEX IX_Room_RoomNo ON T_Room (RoomNo);

-- One row per card written. IsCopy holds 0 or 1.
CREATE TABLE T_IssueCardRecord (
    RegisterId TEXT,
    CardNo TEXT,
    RoomNo TEXT,
    CardType INTEGER,
    LastCheckInTime REAL,
    CheckInTime REAL,
    CheckOutTime REAL,
    IsCopy INTEGER,
    GuestName TEXT,
    OpratingTime REAL
);
