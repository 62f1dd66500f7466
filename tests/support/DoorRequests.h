#pragma once

#include <QByteArray>
#include <QString>

#include <utility>

// An IssueCard request with one element per position; values go in as written.
struct TIssueRequest
{
    QString RegisterId = QStringLiteral("R-1001");
    QString Building = QStringLiteral("00");
    QString Floor = QStringLiteral("01");
    QString Room = QStringLiteral("0101");
    QString Guest = QStringLiteral("张三");
    QString CheckInDate = QStringLiteral("2024-03-05");
    QString CheckInTime = QStringLiteral("14:00:00");
    QString CheckOutDate = QStringLiteral("2024-03-07");
    QString CheckOutTime = QStringLiteral("12:00:00");
    QString Copy = QStringLiteral("0");

    TIssueRequest() = default;
    explicit TIssueRequest(QString room) : Room(std::move(room)) {}

    QString RoomKey() const { return Building + Floor + Room; }

    QString Text() const
    {
        using namespace Qt::Literals::StringLiterals;
        return u"<DoorRequest type=\"IssueCard\"><RequestID>7</RequestID><RegisterId>"_s +
               RegisterId + u"</RegisterId><BuildingCode>"_s + Building +
               u"</BuildingCode><FloorCode>"_s + Floor + u"</FloorCode><RoomNo>"_s + Room +
               u"</RoomNo><GuestName>"_s + Guest + u"</GuestName><CheckInDate>"_s + CheckInDate +
               u"</CheckInDate><CheckInTime>"_s + CheckInTime + u"</CheckInTime><CheckOutDate>"_s +
               CheckOutDate + u"</CheckOutDate><CheckOutTime>"_s + CheckOutTime +
               u"</CheckOutTime><IsCopy>"_s + Copy + u"</IsCopy></DoorRequest>"_s;
    }
    QByteArray Bytes() const { return Text().toUtf8(); }
};

// The answer to a request as the program sends it, without the terminating NUL.
inline QByteArray DoorResponse(const QString& code, const QString& message, const QString& cardNo)
{
    using namespace Qt::Literals::StringLiterals;
    return (u"<DoorResponse><RequestID></RequestID><ResultCode>"_s + code +
            u"</ResultCode><ResultMessage>"_s + message + u"</ResultMessage><CardNo>"_s + cardNo +
            u"</CardNo></DoorResponse>"_s)
        .toUtf8();
}
