#include "VeltraKandorDoorlockUnit.h"

#include "CardDataUnit.h"
#include "CardWR.h"
#include "LogFileUnit.h"
#include "OptionUnit.h"

#include <QByteArray>
#include <QStringEncoder>
#include <array>

using namespace Qt::Literals::StringLiterals;

namespace {

// The library's result for success; every other value is a failure.
constexpr int CardWROk = 1;

const QString CardDataFile = u"R_card.txt"_s;

QByteArray Gbk(const QString& text)
{
    QStringEncoder gbk("GBK");
    return gbk.encode(text);
}

} // namespace

TVeltraKandorDoorlock::TVeltraKandorDoorlock(TOption& option, TLogFile& log)
    : m_option(option), m_log(log)
{}

void TVeltraKandorDoorlock::SetOptionsDialog(std::function<void()> showDialog)
{
    m_showOptionsDialog = std::move(showDialog);
}

void TVeltraKandorDoorlock::ShowOptions()
{
    if (m_showOptionsDialog)
        m_showOptionsDialog();
}

bool TVeltraKandorDoorlock::WriteCard(const QString&, const QString&, const QString&,
                                      const QString& RoomNo, const QString&, TDateTime, TDateTime,
                                      TDateTime EndDate, TDateTime EndTime, bool IsCopy,
                                      std::int64_t& CardNo)
{
    std::lock_guard lock(m_encoderMutex);
    const QString endStamp = CardData::EndStamp(EndDate, EndTime);

    // Checked before the card exists: a card whose number cannot be reported would be a
    // working key that no answer and no record know of.
    const std::optional<std::int64_t> cardNo = CardData::CardNumber(endStamp, RoomNo);
    if (!cardNo) {
        m_log.WriteLog(u"发卡失败,房号无法构成卡号:"_s + RoomNo);
        return false;
    }

    // The port is read at every call, so a port chosen in the options applies at once.
    const std::array<QByteArray, 9> args = {
        Gbk(QString::number(m_option.PortNumber())),
        Gbk(RoomNo),
        Gbk(u"000000000000"_s),
        Gbk(endStamp),
        Gbk(u"1"_s),
        Gbk(u"1"_s),
        Gbk(u"0"_s),
        Gbk(u"7319"_s),
        Gbk(IsCopy ? u"0"_s : u"1"_s),
    };
    const int result = W_Card(args[0].constData(), args[1].constData(), args[2].constData(),
                              args[3].constData(), args[4].constData(), args[5].constData(),
                              args[6].constData(), args[7].constData(), args[8].constData());
    if (result != CardWROk) {
        m_log.WriteLog(u"发卡失败"_s + QString::number(result));
        return false;
    }
    CardNo = *cardNo;
    m_log.WriteLog(u"发卡成功,卡号为:"_s + QString::number(CardNo));
    return true;
}

bool TVeltraKandorDoorlock::ReadCard(std::int64_t& CardNo)
{
    std::lock_guard lock(m_encoderMutex);
    const int result = R_Card(Gbk(QString::number(m_option.PortNumber())).constData());
    // Still the line of the previous read at this point.
    m_log.WriteLog(u"Data="_s + m_cardDataLine);
    if (result != CardWROk) {
        m_log.WriteLog(u"读卡失败"_s + m_cardDataLine);
        return false;
    }
    m_cardDataLine = CardData::ReadFirstLine(CardDataFile);
    m_log.WriteLog(u"Data="_s + m_cardDataLine);
    const std::int64_t cardNo = CardData::CardNumberFromLine(m_cardDataLine);
    CardNo = cardNo;
    m_log.WriteLog(u"读卡成功,卡号为:"_s + QString::number(CardNo));
    return true;
}

bool TVeltraKandorDoorlock::EraseCard()
{
    std::lock_guard lock(m_encoderMutex);
    const int result = L_Card(Gbk(QString::number(m_option.PortNumber())).constData());
    const bool erased = result == CardWROk;
    m_log.WriteLog(erased ? u"注销成功"_s : u"注销失败"_s);
    return erased;
}

QString TVeltraKandorDoorlock::CardDataLine() const
{
    std::lock_guard lock(m_encoderMutex);
    return m_cardDataLine;
}
