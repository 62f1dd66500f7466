#include "DoorlockRecordManagerUnit.h"

#include "DoorlockError.h"
#include "LogFileUnit.h"
#include "RecordConnectionUnit.h"

#include <QSqlQuery>
#include <QVariant>

using namespace Qt::Literals::StringLiterals;

namespace {

// Texts cross to the store's thread as copies of their own: no text storage, and so no
// reference count, is shared between a caller's thread and the store's. An empty copy is
// never null, because Qt binds a null QString as NULL and texts are stored as text.
QString Own(const QString& text)
{
    return text.isEmpty() ? QString(0, QChar()) : QString(text.constData(), text.size());
}

QVariant Text(const QString& value)
{
    return QVariant(Own(value));
}

TDatabaseSettings Own(const TDatabaseSettings& settings)
{
    TDatabaseSettings copy = settings;
    for (QString* text : {&copy.Driver, &copy.Database, &copy.Host, &copy.User, &copy.Password})
        *text = Own(*text);
    return copy;
}

} // namespace

TDoorlockRecordManager::TDoorlockRecordManager(TLogFile& log) : m_log(log)
{
    m_thread.Run([this] {
        // QtSql names connections process-wide; the address keeps each store's apart.
        m_connection = std::make_unique<TRecordConnection>(
            u"TDoorlockRecordManager-"_s + QString::number(reinterpret_cast<quintptr>(this), 16));
    });
}

TDoorlockRecordManager::~TDoorlockRecordManager()
{
    try {
        m_thread.Run([this] { m_connection.reset(); });
    } catch (...) {
        // Nothing sensible is left to do while going away.
    }
}

template <class Frame> bool TDoorlockRecordManager::Guarded(Frame&& frame) noexcept
{
    QString message;
    for (int attempt = 0;; ++attempt) {
        try {
            frame();
            return true;
        } catch (const DoorlockError& error) {
            message = error.message();
        } catch (const std::exception& error) {
            message = QString::fromUtf8(error.what());
        } catch (...) {
            message = u"Unknown error in the record store"_s;
        }
        // The database file was removed or replaced under the open connection: a failed
        // statement changed nothing, so it runs once more on the file now at the path, and a
        // restored file takes records again at once.
        if (attempt > 0 || !m_connection->TakeFileFault())
            break;
    }
    m_connection->TakeFileFault();
    try {
        m_connection->Finish();
        m_log.WriteLog(message);
    } catch (...) {
        // The log is the last resort; an entry it cannot take is lost.
    }
    return false;
}

void TDoorlockRecordManager::Open(const TDatabaseSettings& settings)
{
    m_thread.Run([&] {
        Guarded([&] {
            m_connection->Configure(Own(settings));
            m_connection->Open();
        });
    });
}

TDateTime TDoorlockRecordManager::GetLastCheckInTime(const QString& RoomNo)
{
    TDateTime result = 0;
    m_thread.Run([&] {
        Guarded([&] {
            QSqlQuery& query =
                m_connection->Prepare(u"select LastCheckInTime from T_Room where RoomNo=:RoomNo"_s);
            query.bindValue(u":RoomNo"_s, Text(RoomNo));
            m_connection->Exec(query);
            if (query.next()) {
                const QVariant value = query.value(u"LastCheckInTime"_s);
                if (!value.isNull())
                    result = value.toDouble();
            }
            m_connection->Finish();
        });
    });
    return result;
}

void TDoorlockRecordManager::UpdateLastCheckInTime(const QString& RoomNo, TDateTime LastCheckInTime)
{
    StartUpdateLastCheckInTime(RoomNo, LastCheckInTime).Wait();
}

TDoorlockRecordManager::TTicket
TDoorlockRecordManager::StartUpdateLastCheckInTime(const QString& RoomNo, TDateTime LastCheckInTime)
{
    // One job: no other operation can add the room between the update and the insert.
    return m_thread.Start([this, RoomNo, LastCheckInTime] {
        int changed = -1;
        const bool updated = Guarded([&] {
            QSqlQuery& query = m_connection->Prepare(
                u"update T_Room set LastCheckInTime=:LastCheckInTime where RoomNo=:RoomNo"_s);
            query.bindValue(u":LastCheckInTime"_s, LastCheckInTime);
            query.bindValue(u":RoomNo"_s, Text(RoomNo));
            m_connection->Exec(query);
            changed = query.numRowsAffected();
            m_connection->Finish();
        });
        if (updated && changed == 0)
            InsertRoomJob(RoomNo, LastCheckInTime);
    });
}

void TDoorlockRecordManager::InsertRoom(const QString& RoomNo, TDateTime LastCheckInTime)
{
    m_thread.Run([&] { InsertRoomJob(RoomNo, LastCheckInTime); });
}

void TDoorlockRecordManager::InsertRoomJob(const QString& RoomNo, TDateTime LastCheckInTime)
{
    Guarded([&] {
        QSqlQuery& query = m_connection->Prepare(
            u"insert into T_Room(RoomNo, LastCheckInTime) Values(:RoomNo, :LastCheckInTime)"_s);
        query.bindValue(u":RoomNo"_s, Text(RoomNo));
        query.bindValue(u":LastCheckInTime"_s, LastCheckInTime);
        m_connection->Exec(query);
        m_connection->Finish();
        m_log.WriteLog(u"新建房间"_s + RoomNo);
    });
}

void TDoorlockRecordManager::AddIssueCardRecord(const QString& RegisterId, const QString& CardNo,
                                                const QString& RoomNo, int CardType,
                                                TDateTime LastCheckInTime, TDateTime CheckInTime,
                                                TDateTime CheckOutTime, bool IsCopy,
                                                const QString& GuestName, TDateTime OpratingTime)
{
    StartAddIssueCardRecord(RegisterId, CardNo, RoomNo, CardType, LastCheckInTime, CheckInTime,
                            CheckOutTime, IsCopy, GuestName, OpratingTime)
        .Wait();
}

TDoorlockRecordManager::TTicket TDoorlockRecordManager::StartAddIssueCardRecord(
    const QString& RegisterId, const QString& CardNo, const QString& RoomNo, int CardType,
    TDateTime LastCheckInTime, TDateTime CheckInTime, TDateTime CheckOutTime, bool IsCopy,
    const QString& GuestName, TDateTime OpratingTime)
{
    return m_thread.Start([=, this] {
        Guarded([&] {
            QSqlQuery& query = m_connection->Prepare(
                u"insert into T_IssueCardRecord(RegisterId, CardNo, RoomNo, CardType, "
                u"LastCheckInTime, CheckInTime, CheckOutTime, IsCopy, GuestName, OpratingTime)"
                u"\r\n"
                u" Values(:RegisterId, :CardNo, :RoomNo, :CardType, :LastCheckInTime, "
                u":CheckInTime, :CheckOutTime, :IsCopy, :GuestName, :OpratingTime)"_s);
            query.bindValue(u":RegisterId"_s, Text(RegisterId));
            query.bindValue(u":CardNo"_s, Text(CardNo));
            query.bindValue(u":RoomNo"_s, Text(RoomNo));
            query.bindValue(u":CardType"_s, CardType);
            query.bindValue(u":LastCheckInTime"_s, LastCheckInTime);
            query.bindValue(u":CheckInTime"_s, CheckInTime);
            query.bindValue(u":CheckOutTime"_s, CheckOutTime);
            query.bindValue(u":IsCopy"_s, IsCopy);
            query.bindValue(u":GuestName"_s, Text(GuestName));
            query.bindValue(u":OpratingTime"_s, OpratingTime);
            m_connection->Exec(query);
            m_connection->Finish();
        });
    });
}
