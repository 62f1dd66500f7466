#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// The values of an IssueCard request as the interface reads them by position.
struct TIssueCardFields
{
    QString RegisterId;
    QString BuildingCode;
    QString FloorCode;
    QString RoomNo;
    QString GuestName;
    QString CheckInDate;
    QString CheckInTime;
    QString CheckOutDate;
    QString CheckOutTime;
    bool IsCopy = false;
};

// Writes door requests as UTF-8 XML bodies (without the NUL terminator). The interface reads an
// IssueCard request by child position, so the order of the elements is what matters; their
// names are only there for the people who read the logs.
// Stateless: thread-safe.
class TDoorRequestText
{
public:
    // The largest body the interface accepts; a longer one is dropped without an answer.
    static constexpr qsizetype MaxBodyBytes = 16384;

    static QByteArray IssueCard(QStringView requestId, const TIssueCardFields& fields);
    // A request that needs no values: "ReadCard" or "EraseCard".
    static QByteArray Operation(QStringView type, QStringView requestId);

    // &, <, >, " and ' written as references, everything else as it stands.
    static QString Escaped(QStringView value);
};
