#pragma once

#include <QChar>
#include <QString>
#include <QStringView>
#include <cstdint>

// The system's date-time value: whole days since 1899-12-30, the fraction being the time of
// day. It is stored as such in the record store, so it must never be converted on the way.
using TDateTime = double;

// Text formats used by every conversion between date-times and text. One process-wide
// instance exists; the main window fixes it at its creation, before any connection is served.
struct TFormatSettings
{
    QChar DateSeparator = u'-';
    QChar TimeSeparator = u':';
    QChar DecimalSeparator = u'.';
    QString ShortDateFormat = QStringLiteral("yyyy-MM-dd");
    QString LongDateFormat = QStringLiteral("yyyy-MM-dd");
    QString ShortTimeFormat = QStringLiteral("hh:mm:ss");
    QString LongTimeFormat = QStringLiteral("hh:mm:ss");
    QString TimeAMString = QStringLiteral("AM");
    QString TimePMString = QStringLiteral("PM");
    int TwoDigitYearCenturyWindow = 50;

    // What the operating system's regional settings say, before the main window fixes them.
    static TFormatSettings FromSystemLocale();
    // The fixed formats of the running program.
    static TFormatSettings Fixed();
};

// Source of "now" and the current year; tests substitute their own.
class TClock
{
public:
    virtual ~TClock() = default;
    virtual TDateTime Now() const;
    virtual int CurrentYear() const;

    // The wall clock, local time.
    static const TClock& System();
};

namespace DateTime {

// The process-wide formats. Written only by FixProcessFormats (GUI thread, before the
// listener starts); read from every thread afterwards.
const TFormatSettings& ProcessFormats();
void FixProcessFormats(const TFormatSettings& formats);

bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result);
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int msec = 0);

struct DecodedDateTime
{
    int Year, Month, Day, Hour, Minute, Second, MSec;
};
DecodedDateTime Decode(TDateTime value);

// Reads a date-time text; throws DoorlockError "'%s' is not a valid date and time".
TDateTime StrToDateTime(QStringView text, const TFormatSettings& formats = ProcessFormats(),
                        const TClock& clock = TClock::System());
bool TryStrToDateTime(QStringView text, TDateTime& result,
                      const TFormatSettings& formats = ProcessFormats(),
                      const TClock& clock = TClock::System());

// Writes a date-time with pattern letters yyyy mm dd hh nn ss (either case).
QString FormatDateTime(QStringView pattern, TDateTime value,
                       const TFormatSettings& formats = ProcessFormats());

// t + m minutes, computed as (t * 1440 + m) / 1440 in extended precision.
TDateTime AddMinutes(TDateTime value, std::int64_t minutes);

} // namespace DateTime
