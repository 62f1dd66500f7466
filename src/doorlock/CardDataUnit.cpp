#include "CardDataUnit.h"

#include "DoorlockError.h"

#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {

// Strict on purpose: QString::toLongLong would also take blanks, signs and non-ASCII digits.
std::optional<std::int64_t> DecimalValue(QStringView digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value > (max - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

bool IsAsciiDigits(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

} // namespace

namespace CardData {

QStringList SplitText(const QString& text, QChar separator)
{
    if (text.isEmpty())
        return {};
    return text.split(separator, Qt::KeepEmptyParts);
}

QString ReadFirstLine(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw DoorlockError(u"Cannot open file \"%1\": %2"_s.arg(fileName, file.errorString()));
    QByteArray line = file.readLine();
    if (file.error() != QFileDevice::NoError)
        throw DoorlockError(u"Cannot read file \"%1\": %2"_s.arg(fileName, file.errorString()));
    const qsizetype end = line.indexOf('\r');
    if (end >= 0)
        line.truncate(end);
    if (line.endsWith('\n'))
        line.chop(1);
    // GBK keeps ASCII as it is, and a card's line is ASCII unless the guest's name is on it;
    // setting up the converter would cost more than reading the file.
    const bool ascii = std::all_of(line.cbegin(), line.cend(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return QString::fromLatin1(line);
    QStringDecoder gbk("GBK");
    return gbk.decode(line);
}

QString EndStamp(TDateTime endDate, TDateTime endTime)
{
    return DateTime::FormatDateTime(u"yyyymmdd", endDate) +
           DateTime::FormatDateTime(u"hhnn", endTime);
}

std::optional<std::int64_t> CardNumber(QStringView endStamp, QStringView roomNo)
{
    if (!IsAsciiDigits(roomNo))
        return std::nullopt;
    return DecimalValue(QString(endStamp + roomNo));
}

std::int64_t CardNumberFromLine(const QString& line)
{
    const QStringList fields = SplitText(line, u'+');
    if (fields.size() < 3)
        throw DoorlockError(u"Card data \"%1\" has fewer than three fields"_s.arg(line));
    const QString endStamp =
        DateTime::FormatDateTime(u"yyyymmddhhnn", DateTime::StrToDateTime(fields[2]));
    const std::optional<std::int64_t> number = CardNumber(endStamp, fields[0]);
    if (!number)
        throw DoorlockError(u"'%1' is not a valid integer value"_s.arg(endStamp + fields[0]));
    return *number;
}

} // namespace CardData
