#pragma once

#include <QChar>
#include <QString>
#include <QStringView>
#include <atomic>
#include <cstdint>

class QLocale;

// The system's date-time value: whole days since 1899-12-30, the fraction being the time of
// day. It is stored as such in the record store, so it must never be converted on the way.
// Before 1899-12-30 the whole part is the (negative) day and the fraction's magnitude the time.
using TDateTime = double;

// Text formats used by every conversion between date-times and text. One process-wide
// instance exists; the main window fixes it at its creation, before any connection is served.
// A plain value; thread-safe to read, not to change.
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

    bool operator==(const TFormatSettings&) const = default;

    // What the given regional settings say: separators from the short formats (the first
    // character that is not a letter, quote or blank; '-' and ':' when there is none), the
    // morning/afternoon texts and the decimal point.
    static TFormatSettings FromLocale(const QLocale& locale);
    // What the operating system's regional settings say, before the main window fixes them.
    static TFormatSettings FromSystemLocale();
    // The fixed formats of the running program.
    static TFormatSettings Fixed();
};

// Source of "now" and the current year; tests substitute their own.
// The system clock is thread-safe; substitutes must be if they are shared between threads.
class TClock
{
public:
    virtual ~TClock() = default;
    virtual TDateTime Now() const;
    virtual int CurrentYear() const;

    // The wall clock, local time, with milliseconds.
    static const TClock& System();

private:
    // Wall-clock second of the last look at the time zone (see Now).
    mutable std::atomic<std::int64_t> m_zoneCheckedAt{-1};
};

// Free functions; all thread-safe except FixProcessFormats (see there).
namespace DateTime {

// The process-wide formats, taken from the system's regional settings on first use. Written
// only by FixProcessFormats (GUI thread, before the listener starts); read from every thread
// afterwards.
const TFormatSettings& ProcessFormats();
void FixProcessFormats(const TFormatSettings& formats);

// Year 1 to 9999, month 1 to 12, day within the month (proleptic Gregorian calendar).
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
// Below 24:00:00.000.
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result);
// Throws DoorlockError for a date or time that does not exist.
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int msec = 0);

struct DecodedDateTime
{
    int Year, Month, Day, Hour, Minute, Second, MSec;
};
// The time of day is rounded to whole milliseconds; a rounding up to 24:00 gives 00:00 of the
// next calendar day. Throws DoorlockError for a value outside
// 0001-01-01 .. 9999-12-31 (or not a number).
DecodedDateTime Decode(TDateTime value);

// Reads a date-time text; throws DoorlockError "'%s' is not a valid date and time".
TDateTime StrToDateTime(QStringView text, const TFormatSettings& formats = ProcessFormats(),
                        const TClock& clock = TClock::System());
// As StrToDateTime, answering false instead of throwing; result is set only on success.
bool TryStrToDateTime(QStringView text, TDateTime& result,
                      const TFormatSettings& formats = ProcessFormats(),
                      const TClock& clock = TClock::System());

// Writes a date-time with a pattern. Letters, in either case, a run of one letter being one
// field: yyyy four-digit year (yy or y: two digits), mm two-digit month (minutes when the last
// letter before it was an h), dd day, hh hour 00-23, nn minutes, ss seconds (a single letter
// is not padded), zzz milliseconds; ':' becomes the time separator, '/' the date separator;
// anything else is copied. Throws DoorlockError as Decode does.
QString FormatDateTime(QStringView pattern, TDateTime value,
                       const TFormatSettings& formats = ProcessFormats());

// t + m minutes, computed as (t * 1440 + m) / 1440 in extended precision. Where t or the
// result lies before 1899-12-30 the minutes are added on a continuous scale instead, so that
// adding minutes always moves the clock forward.
TDateTime AddMinutes(TDateTime value, std::int64_t minutes);

} // namespace DateTime
