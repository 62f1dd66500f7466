#include "DoorlockMessageHandlerUnit.h"

#include "BaseDoorlockUnit.h"
#include "ConnectionUnit.h"
#include "CardIssueUnit.h"
#include "LogFileUnit.h"
#include "RequestDocumentUnit.h"
#include "SysOptionUnit.h"

#include <QRegularExpression>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace {

// Request positions of IssueCard.
enum Position : qsizetype
{
    RegisterIdPos = 1,
    BuildingCodePos = 2,
    FloorCodePos = 3,
    RoomNoPos = 4,
    GuestNamePos = 5,
    CheckInDatePos = 6,
    CheckInTimePos = 7,
    CheckOutDatePos = 8,
    CheckOutTimePos = 9,
    IsCopyPos = 10,
};

// White space of the request: U+0000 to U+0020.
QString StripWhiteSpace(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

TDateTime ReadDateTime(const TRequestDocument& root, qsizetype datePos, qsizetype timePos)
{
    const QString text = root.ElementText(datePos) + u' ' + root.ElementText(timePos);
    return DateTime::StrToDateTime(text);
}

} // namespace

TDoorlockMessageHandler::TDoorlockMessageHandler(const TProgramObjects& objects)
    : m_objects(objects)
{}

void TDoorlockMessageHandler::WriteLog(const QString& text)
{
    m_objects.LogFile->WriteLog(text);
}

void TDoorlockMessageHandler::HandleMessage(TConnection& connection, const QString& request)
{
    WriteLog(u"收到消息: \r\n"_s + request);
    TResponse response;
    const TRequestDocument root = TRequestDocument::Parse(request);
    const QString type = StripWhiteSpace(root.RootAttribute(u"type"));
    WriteLog(u"执行操作->"_s);

    std::int64_t cardNo = 0;
    if (type == u"IssueCard") {
        const bool written = IssueCard(root, cardNo);
        response.ResultCode = written ? u"200"_s : u"500"_s;
        response.ResultMessage = written ? u"发卡成功"_s : u"发卡失败"_s;
        response.CardNo = cardNo;
        const QString room = root.ElementText(RoomNoPos);
        WriteLog(u"房间("_s + room + (written ? u")发卡成功"_s : u")发卡失败"_s));
        SendResponse(connection, response);
    } else if (type == u"ReadCard") {
        const bool read = ReadCard(cardNo);
        response.ResultCode = read ? u"200"_s : u"500"_s;
        response.ResultMessage = read ? u"读卡成功"_s : u"读卡失败"_s;
        if (read)
            response.CardNo = cardNo;
        WriteLog(read ? u"读卡成功，卡号为："_s + QString::number(cardNo) : u"读卡失败"_s);
        SendResponse(connection, response);
    } else if (type == u"EraseCard") {
        const bool erased = EraseCard();
        response.ResultCode = erased ? u"200"_s : u"500"_s;
        response.ResultMessage = erased ? u"注销卡成功 "_s : u"注销卡失败 "_s;
        WriteLog(erased ? u"注销卡成功"_s : u"注销卡失败"_s);
        SendResponse(connection, response);
    }
    WriteLog(u"完成一次操作"_s);
}

bool TDoorlockMessageHandler::IssueCard(const TRequestDocument& root, std::int64_t& cardNo)
{
    const TSysOption& sysOption = *m_objects.SysOption;

    // Everything is read from the request before the encoder or the store is touched, so a
    // request that cannot be read changes nothing.
    TCardIssue card;
    card.RegisterId = root.ElementText(RegisterIdPos);
    card.BuildingCode = root.ElementText(BuildingCodePos);
    card.FloorCode = root.ElementText(FloorCodePos);
    card.RoomNo = root.ElementText(RoomNoPos);
    card.GuestName = root.ElementText(GuestNamePos);
    card.CheckIn = DateTime::AddMinutes(ReadDateTime(root, CheckInDatePos, CheckInTimePos),
                                        -sysOption.DelayMinutes());
    card.CheckOut = DateTime::AddMinutes(ReadDateTime(root, CheckOutDatePos, CheckOutTimePos),
                                         sysOption.DelayMinutes2());
    card.IsCopy = ReadCopyFlag(root.ElementText(IsCopyPos));
    return IssueCardStep(m_objects, card, cardNo);
}

bool TDoorlockMessageHandler::ReadCard(std::int64_t& cardNo)
{
    TBaseDoorlock& doorlock = *m_objects.CurrentDoorlock;
    std::lock_guard cardStep(doorlock.CardStepMutex());
    return doorlock.ReadCard(cardNo);
}

bool TDoorlockMessageHandler::EraseCard()
{
    TBaseDoorlock& doorlock = *m_objects.CurrentDoorlock;
    std::lock_guard cardStep(doorlock.CardStepMutex());
    return doorlock.EraseCard();
}

void TDoorlockMessageHandler::SendResponse(TConnection& connection, const TResponse& response)
{
    // A peer that has gone does not change what the request did.
    try {
        connection.SendResponse(BuildDoorResponse(response));
    } catch (const std::exception&) {
    }
}

QString TDoorlockMessageHandler::BuildDoorResponse(const TResponse& response)
{
    return u"<DoorResponse><RequestID>"_s + response.RequestID + u"</RequestID><ResultCode>"_s +
           response.ResultCode + u"</ResultCode><ResultMessage>"_s + response.ResultMessage +
           u"</ResultMessage><CardNo>"_s + QString::number(response.CardNo) +
           u"</CardNo></DoorResponse>"_s;
}

bool TDoorlockMessageHandler::ReadCopyFlag(const QString& text)
{
    // A number in the usual decimal forms, blanks allowed around it: 1, -1, 2.5, 1e3.
    static const QRegularExpression number(
        uR"(^ *[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)? *$)"_s);
    if (number.match(text).hasMatch())
        return text.trimmed().toDouble() != 0.0;
    return text.compare(u"True", Qt::CaseInsensitive) == 0;
}
