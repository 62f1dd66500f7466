#include "DoorRequestTextUnit.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QString Element(QStringView name, QStringView value)
{
    return u"    <"_s + name + u'>' + TDoorRequestText::Escaped(value) + u"</"_s + name + u">\n"_s;
}

QString Opening(QStringView type)
{
    return u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DoorRequest type=\""_s +
           TDoorRequestText::Escaped(type) + u"\">\n"_s;
}

const QString Closing = u"</DoorRequest>\n"_s;

} // namespace

QByteArray TDoorRequestText::IssueCard(QStringView requestId, const TIssueCardFields& fields)
{
    // Positions 0 to 10, in this order.
    const QString text =
        Opening(u"IssueCard") + Element(u"RequestID", requestId) +
        Element(u"RegisterId", fields.RegisterId) + Element(u"BuildingCode", fields.BuildingCode) +
        Element(u"FloorCode", fields.FloorCode) + Element(u"RoomNo", fields.RoomNo) +
        Element(u"GuestName", fields.GuestName) + Element(u"CheckInDate", fields.CheckInDate) +
        Element(u"CheckInTime", fields.CheckInTime) +
        Element(u"CheckOutDate", fields.CheckOutDate) +
        Element(u"CheckOutTime", fields.CheckOutTime) +
        Element(u"IsCopy", fields.IsCopy ? u"1" : u"0") + Closing;
    return text.toUtf8();
}

QByteArray TDoorRequestText::Operation(QStringView type, QStringView requestId)
{
    const QString text = Opening(type) + Element(u"RequestID", requestId) + Closing;
    return text.toUtf8();
}

QString TDoorRequestText::Escaped(QStringView value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'&':
            escaped += u"&amp;"_s;
            break;
        case u'<':
            escaped += u"&lt;"_s;
            break;
        case u'>':
            escaped += u"&gt;"_s;
            break;
        case u'"':
            escaped += u"&quot;"_s;
            break;
        case u'\'':
            escaped += u"&apos;"_s;
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}
