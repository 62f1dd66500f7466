#pragma once

#include "DatabaseSettingsUnit.h"
#include "DateTimeUnit.h"
#include "RecordStoreThreadUnit.h"

#include <QString>
#include <memory>

class TLogFile;
class TRecordConnection;

// The record store: each room's last check-in time (T_Room) and one record per card written
// (T_IssueCardRecord). No operation lets an error reach its caller: each failure is written to
// the log as the database's own message and the operation returns (GetLastCheckInTime then
// gives 0).
//
// Thread-safe. The connection lives on a thread of its own, because a QtSql connection may
// only be used by the thread that opened it; every operation is one job on that thread, so
// operations run one at a time in the order they arrive, and the caller waits for its own
// (or, with the Start variants, for its ticket).
class TDoorlockRecordManager
{
public:
    using TTicket = TRecordStoreThread::TTicket;

    explicit TDoorlockRecordManager(TLogFile& log);
    // Closes the connection and ends the store's thread. Never throws.
    ~TDoorlockRecordManager();

    TDoorlockRecordManager(const TDoorlockRecordManager&) = delete;
    TDoorlockRecordManager& operator=(const TDoorlockRecordManager&) = delete;

    // Chooses the database and opens the connection. A failure is logged and the store stays
    // closed; every later operation tries to open it first, and the first that succeeds keeps
    // the connection open.
    void Open(const TDatabaseSettings& settings);

    // The room's last check-in time; 0 when the room has no row, its row holds no time, or the
    // database cannot be read.
    TDateTime GetLastCheckInTime(const QString& RoomNo);
    // Sets the room's time; adds the room when no row changed.
    void UpdateLastCheckInTime(const QString& RoomNo, TDateTime LastCheckInTime);
    // Adds a row for the room and logs it.
    void InsertRoom(const QString& RoomNo, TDateTime LastCheckInTime);
    void AddIssueCardRecord(const QString& RegisterId, const QString& CardNo, const QString& RoomNo,
                            int CardType, TDateTime LastCheckInTime, TDateTime CheckInTime,
                            TDateTime CheckOutTime, bool IsCopy, const QString& GuestName,
                            TDateTime OpratingTime);

    // The same two writes, handed in without waiting: they still run after every operation
    // handed in before them and before any handed in after them.
    TTicket StartUpdateLastCheckInTime(const QString& RoomNo, TDateTime LastCheckInTime);
    TTicket StartAddIssueCardRecord(const QString& RegisterId, const QString& CardNo,
                                    const QString& RoomNo, int CardType, TDateTime LastCheckInTime,
                                    TDateTime CheckInTime, TDateTime CheckOutTime, bool IsCopy,
                                    const QString& GuestName, TDateTime OpratingTime);

private:
    // These run on the store's thread only.
    void InsertRoomJob(const QString& RoomNo, TDateTime LastCheckInTime);
    // Runs one statement frame; a failure is logged and gives false.
    template <class Frame> bool Guarded(Frame&& frame) noexcept;

    TLogFile& m_log;
    std::unique_ptr<TRecordConnection> m_connection; // made and destroyed by jobs on m_thread
    TRecordStoreThread m_thread;                     // last: its jobs use the fields above
};
