#include "DateTimeUnit.h"

#include "DoorlockError.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>
#include <cmath>

#ifdef Q_OS_UNIX
#include <ctime>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr std::int64_t MSecsPerDay = 86'400'000;
constexpr std::int64_t JulianDayOfDayZero = 2'415'019; // 1899-12-30
constexpr std::int64_t FirstDay = -693'593;            // 0001-01-01
constexpr std::int64_t LastDay = 2'958'465;            // 9999-12-31

// Before day zero the time counts away from zero: -1.25 is 1899-12-29 06:00.
TDateTime Combine(TDateTime date, TDateTime time)
{
    return date >= 0 ? date + time : date - time;
}

// The character that parts the fields of a regional format, or the fallback. Blanks do not
// count: the reader skips them, so they could never separate anything.
QChar FirstSeparator(const QString& format, QChar fallback)
{
    for (const QChar c : format) {
        if (!c.isLetter() && c != u'\'' && c != u' ')
            return c;
    }
    return fallback;
}

// Reads a date-time text left to right. Each step skips blanks (spaces only) before it looks.
class TDateTimeScanner
{
public:
    TDateTimeScanner(QStringView text, const TFormatSettings& formats, const TClock& clock)
        : m_text(text), m_formats(formats), m_clock(clock)
    {}

    bool AtEnd() const { return m_pos >= m_text.size(); }
    void Restart() { m_pos = 0; }

    // year-month-day or month-day, then an optional separator and blanks.
    bool ScanDate(TDateTime& date)
    {
        int n1 = 0, n2 = 0, n3 = 0;
        int digits1 = 0, digits = 0;
        const QChar separator = m_formats.DateSeparator;
        if (!(ScanNumber(n1, digits1) && ScanChar(separator) && ScanNumber(n2, digits)))
            return false;
        int year = 0, month = 0, day = 0;
        if (ScanChar(separator)) {
            if (!ScanNumber(n3, digits))
                return false;
            year = n1;
            month = n2;
            day = n3;
            if (digits1 <= 2) {
                const int window = m_formats.TwoDigitYearCenturyWindow;
                const int centuryBase = m_clock.CurrentYear() - window;
                year += centuryBase / 100 * 100;
                if (window > 0 && year < centuryBase)
                    year += 100;
            }
        } else {
            year = m_clock.CurrentYear();
            month = n1;
            day = n2;
        }
        ScanChar(separator);
        ScanBlanks();
        return DateTime::TryEncodeDate(year, month, day, date);
    }

    // hour[:minutes[:seconds[.milliseconds]]] with a morning/afternoon marker before or after.
    bool ScanTime(TDateTime& time)
    {
        int baseHour = ScanMarker();
        if (baseHour >= 0)
            ScanBlanks();
        int hour = 0, minute = 0, second = 0, msec = 0, digits = 0;
        if (!ScanNumber(hour, digits))
            return false;
        if (ScanChar(m_formats.TimeSeparator)) {
            if (!ScanNumber(minute, digits))
                return false;
            if (ScanChar(m_formats.TimeSeparator)) {
                if (!ScanNumber(second, digits))
                    return false;
                if (ScanChar(m_formats.DecimalSeparator) && !ScanNumber(msec, digits))
                    return false;
            }
        }
        if (baseHour < 0)
            baseHour = ScanMarker();
        if (baseHour >= 0) {
            if (hour == 0 || hour > 12)
                return false;
            if (hour == 12)
                hour = 0;
            hour += baseHour;
        }
        ScanBlanks();
        return DateTime::TryEncodeTime(hour, minute, second, msec, time);
    }

private:
    void ScanBlanks()
    {
        while (m_pos < m_text.size() && m_text[m_pos] == u' ')
            ++m_pos;
    }

    // Digits are taken while the value is below 1000, so a number never exceeds 9999.
    bool ScanNumber(int& number, int& digitCount)
    {
        ScanBlanks();
        qsizetype end = m_pos;
        int value = 0;
        while (end < m_text.size() && value < 1000) {
            const char16_t c = m_text[end].unicode();
            if (c < u'0' || c > u'9')
                break;
            value = value * 10 + (c - u'0');
            ++end;
        }
        if (end == m_pos)
            return false;
        digitCount = static_cast<int>(end - m_pos);
        number = value;
        m_pos = end;
        return true;
    }

    bool ScanChar(QChar c)
    {
        ScanBlanks();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    // An empty symbol never matches (a locale without morning/afternoon texts).
    bool ScanString(QStringView symbol)
    {
        if (symbol.isEmpty())
            return false;
        ScanBlanks();
        if (m_text.size() - m_pos < symbol.size())
            return false;
        if (m_text.sliced(m_pos, symbol.size()).compare(symbol, Qt::CaseInsensitive) != 0)
            return false;
        m_pos += symbol.size();
        return true;
    }

    // 0 for a morning marker, 12 for an afternoon one, -1 for none.
    int ScanMarker()
    {
        if (ScanString(m_formats.TimeAMString) || ScanString(u"AM"))
            return 0;
        if (ScanString(m_formats.TimePMString) || ScanString(u"PM"))
            return 12;
        return -1;
    }

    QStringView m_text;
    const TFormatSettings& m_formats;
    const TClock& m_clock;
    qsizetype m_pos = 0;
};

QString Padded(int value, int width)
{
    return QString::number(value).rightJustified(width, u'0');
}

TFormatSettings& ProcessFormatsStorage()
{
    // A function-local static: its first-use initialisation is thread-safe.
    static TFormatSettings formats = TFormatSettings::FromSystemLocale();
    return formats;
}

} // namespace

TFormatSettings TFormatSettings::FromLocale(const QLocale& locale)
{
    TFormatSettings formats;
    formats.ShortDateFormat = locale.dateFormat(QLocale::ShortFormat);
    formats.LongDateFormat = locale.dateFormat(QLocale::LongFormat);
    formats.ShortTimeFormat = locale.timeFormat(QLocale::ShortFormat);
    formats.LongTimeFormat = locale.timeFormat(QLocale::LongFormat);
    formats.DateSeparator = FirstSeparator(formats.ShortDateFormat, u'-');
    formats.TimeSeparator = FirstSeparator(formats.ShortTimeFormat, u':');
    const QString point = locale.decimalPoint();
    formats.DecimalSeparator = point.isEmpty() ? QChar(u'.') : point.front();
    formats.TimeAMString = locale.amText();
    formats.TimePMString = locale.pmText();
    return formats;
}

TFormatSettings TFormatSettings::FromSystemLocale()
{
    return FromLocale(QLocale::system());
}

TFormatSettings TFormatSettings::Fixed()
{
    const QLocale system = QLocale::system();
    TFormatSettings formats; // the defaults are the program's formats
    if (!system.amText().isEmpty())
        formats.TimeAMString = system.amText();
    if (!system.pmText().isEmpty())
        formats.TimePMString = system.pmText();
    return formats;
}

TDateTime TClock::Now() const
{
#ifdef Q_OS_UNIX
    timespec wall{};
    ::clock_gettime(CLOCK_REALTIME, &wall);
    // localtime_r keeps the zone it knows; tzset looks at the zone file again (a stat). Once per
    // second of wall time is soon enough to follow a change of zone, and spares the log a system
    // call per entry.
    if (m_zoneCheckedAt.exchange(wall.tv_sec, std::memory_order_relaxed) != wall.tv_sec)
        ::tzset();
    tm local{};
    if (::localtime_r(&wall.tv_sec, &local) != nullptr) {
        return DateTime::EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                        local.tm_hour, local.tm_min, std::min(local.tm_sec, 59),
                                        static_cast<int>(wall.tv_nsec / 1000000));
    }
#endif
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    return DateTime::EncodeDateTime(date.year(), date.month(), date.day(), time.hour(),
                                    time.minute(), time.second(), time.msec());
}

int TClock::CurrentYear() const
{
    return QDate::currentDate().year();
}

const TClock& TClock::System()
{
    static const TClock clock;
    return clock;
}

namespace DateTime {

const TFormatSettings& ProcessFormats()
{
    return ProcessFormatsStorage();
}

void FixProcessFormats(const TFormatSettings& formats)
{
    ProcessFormatsStorage() = formats;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result)
{
    if (year < 1 || year > 9999 || !QDate::isValid(year, month, day))
        return false;
    result = static_cast<TDateTime>(QDate(year, month, day).toJulianDay() - JulianDayOfDayZero);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result)
{
    if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
        msec < 0 || msec >= 1000)
        return false;
    const std::int64_t msecs = ((hour * 60LL + minute) * 60 + second) * 1000 + msec;
    result = static_cast<TDateTime>(msecs) / static_cast<TDateTime>(MSecsPerDay);
    return true;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec)
{
    TDateTime date = 0;
    if (!TryEncodeDate(year, month, day, date))
        throw DoorlockError(u"Invalid argument to date encode"_s);
    TDateTime time = 0;
    if (!TryEncodeTime(hour, minute, second, msec, time))
        throw DoorlockError(u"Invalid argument to time encode"_s);
    return Combine(date, time);
}

DecodedDateTime Decode(TDateTime value)
{
    const auto invalid = [value] {
        return DoorlockError(u"Invalid date-time value "_s + QString::number(value, 'g', 17));
    };
    // Also refuses NaN, and keeps the integer conversion below in range.
    if (!(value > FirstDay - 1 && value < LastDay + 1))
        throw invalid();
    const TDateTime whole = std::trunc(value);
    std::int64_t day = static_cast<std::int64_t>(whole);
    const long double fraction = std::fabs(static_cast<long double>(value) - whole);
    std::int64_t msecs = std::llround(fraction * MSecsPerDay);
    if (msecs >= MSecsPerDay) {
        // Rounded up to 24:00: the start of the next calendar day, also before day zero
        // (where that day's value lies nearer to zero, not further from it).
        msecs -= MSecsPerDay;
        day += 1;
    }
    if (day < FirstDay || day > LastDay)
        throw invalid();

    const QDate date = QDate::fromJulianDay(day + JulianDayOfDayZero);
    const int msec = static_cast<int>(msecs % 1000);
    const int seconds = static_cast<int>(msecs / 1000);
    return {date.year(),       date.month(), date.day(), seconds / 3600,
            seconds / 60 % 60, seconds % 60, msec};
}

TDateTime StrToDateTime(QStringView text, const TFormatSettings& formats, const TClock& clock)
{
    TDateTime result = 0;
    if (!TryStrToDateTime(text, result, formats, clock))
        throw DoorlockError(u"'"_s + text + u"' is not a valid date and time"_s);
    return result;
}

bool TryStrToDateTime(QStringView text, TDateTime& result, const TFormatSettings& formats,
                      const TClock& clock)
{
    TDateTimeScanner scanner(text, formats, clock);
    TDateTime date = 0;
    TDateTime time = 0;
    if (scanner.ScanDate(date) && (scanner.AtEnd() || scanner.ScanTime(time))) {
        // Whatever follows a date and time is ignored.
        result = Combine(date, time);
        return true;
    }
    // Then the whole text must be a time alone.
    scanner.Restart();
    time = 0;
    if (scanner.ScanTime(time) && scanner.AtEnd()) {
        result = time;
        return true;
    }
    return false;
}

QString FormatDateTime(QStringView pattern, TDateTime value, const TFormatSettings& formats)
{
    const DecodedDateTime dt = Decode(value);
    QString out;
    out.reserve(pattern.size() + 8);
    char16_t lastLetter = 0;
    qsizetype i = 0;
    while (i < pattern.size()) {
        const QChar c = pattern[i];
        const bool asciiLetter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        if (!asciiLetter) {
            if (c == u':')
                out += formats.TimeSeparator;
            else if (c == u'/')
                out += formats.DateSeparator;
            else
                out += c;
            ++i;
            continue;
        }

        char16_t letter = c.toLower().unicode();
        qsizetype run = 1;
        while (i + run < pattern.size() && pattern[i + run].toLower() == QChar(letter))
            ++run;
        if (letter == u'm' && lastLetter == u'h')
            letter = u'n';
        lastLetter = letter;

        const bool single = run == 1;
        switch (letter) {
        case u'y':
            out += run <= 2 ? Padded(dt.Year % 100, 2) : Padded(dt.Year, 4);
            break;
        case u'm':
            out += Padded(dt.Month, single ? 1 : 2);
            break;
        case u'd':
            out += Padded(dt.Day, single ? 1 : 2);
            break;
        case u'h':
            out += Padded(dt.Hour, single ? 1 : 2);
            break;
        case u'n':
            out += Padded(dt.Minute, single ? 1 : 2);
            break;
        case u's':
            out += Padded(dt.Second, single ? 1 : 2);
            break;
        case u'z':
            out += Padded(dt.MSec, single ? 1 : 3);
            break;
        default:
            out += pattern.sliced(i, run);
            break;
        }
        i += run;
    }
    return out;
}

TDateTime AddMinutes(TDateTime value, std::int64_t minutes)
{
    // long double is the x87 extended type on x86-64 Linux; where it is plain double (MSVC,
    // AArch64 Apple) the result may differ in the last bit.
    const long double shifted =
        (static_cast<long double>(value) * 1440.0L + static_cast<long double>(minutes)) / 1440.0L;
    if (value >= 0 && shifted >= 0)
        return static_cast<TDateTime>(shifted);

    // Before day zero the day counts down while the time of day counts up, so adding to the
    // raw value would move the clock backwards. Add on a continuous day scale instead.
    const long double day = std::trunc(static_cast<long double>(value));
    const long double continuous =
        (value >= 0 ? value : 2 * day - value) + static_cast<long double>(minutes) / 1440.0L;
    if (continuous >= 0)
        return static_cast<TDateTime>(continuous);
    const long double resultDay = std::floor(continuous);
    return static_cast<TDateTime>(resultDay - (continuous - resultDay));
}

} // namespace DateTime
