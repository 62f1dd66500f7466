#include "DateTimeUnit.h"
#include "DoorlockError.h"

#include <QDateTime>
#include <QLocale>
#include <QTest>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using namespace DateTime;

namespace {

// A clock stopped in a chosen year, for the two-digit year and month-day rules.
class TFixedYearClock : public TClock
{
public:
    explicit TFixedYearClock(int year) : m_year(year) {}
    TDateTime Now() const override { return EncodeDateTime(m_year, 6, 15, 10, 0); }
    int CurrentYear() const override { return m_year; }

private:
    int m_year;
};

// Seventeen significant digits tell any two doubles apart, and read well in a failure.
QString Exact(TDateTime value)
{
    return QString::number(value, 'g', 17);
}

QString Describe(const DecodedDateTime& d)
{
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d.%03d", d.Year, d.Month, d.Day, d.Hour,
                             d.Minute, d.Second, d.MSec);
}

QString ErrorOf(QStringView text, const TFormatSettings& formats, const TClock& clock)
{
    try {
        StrToDateTime(text, formats, clock);
    } catch (const DoorlockError& e) {
        return e.message();
    }
    return {};
}

TFormatSettings ChineseStyle()
{
    TFormatSettings formats = TFormatSettings::Fixed();
    formats.TimeAMString = u"上午"_s;
    formats.TimePMString = u"下午"_s;
    return formats;
}

TFormatSettings DotsAndCommaStyle()
{
    TFormatSettings formats = TFormatSettings::Fixed();
    formats.DateSeparator = u'/';
    formats.TimeSeparator = u'.';
    formats.DecimalSeparator = u',';
    return formats;
}

} // namespace

class TstDateTime : public QObject
{
    Q_OBJECT

private slots:
    // Must stay first: it sees the process formats before anything fixes them.
    void processFormatsStartFromTheSystemOnFirstUse();

    void encodeDate_data();
    void encodeDate();
    void encodeTime_data();
    void encodeTime();
    void encodeDateTimeRefusesWhatDoesNotExist();

    void decode_data();
    void decode();
    void decodeRefusesValuesOutsideTheCalendar_data();
    void decodeRefusesValuesOutsideTheCalendar();
    void decodeInvertsEncodeOnEveryDay();

    void readValid_data();
    void readValid();
    void readInvalid_data();
    void readInvalid();
    void readUsesTheGivenMarkers_data();
    void readUsesTheGivenMarkers();
    void readUsesTheGivenSeparators();

    void fixedFormatsReadTheSameWhateverTheSystem_data();
    void fixedFormatsReadTheSameWhateverTheSystem();
    void formatsFromLocale_data();
    void formatsFromLocale();
    void fixedFormats();

    void format_data();
    void format();
    void formatRefusesValuesOutsideTheCalendar();

    void addMinutes_data();
    void addMinutes();
    void addMinutesThereAndBackIsExact();

    void systemClockIsTheLocalWallClock();

    void cleanup();
};

void TstDateTime::processFormatsStartFromTheSystemOnFirstUse()
{
    // Workers may be the first to ask; they must all see one fully built object.
    std::vector<const TFormatSettings*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = &ProcessFormats(); });
    for (auto& t : threads)
        t.join();
    for (const TFormatSettings* formats : seen)
        QCOMPARE(formats, &ProcessFormats());
    QVERIFY(ProcessFormats() == TFormatSettings::FromSystemLocale());
}

void TstDateTime::encodeDate_data()
{
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("day");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("expected");

    QTest::newRow("day zero") << 1899 << 12 << 30 << true << 0.0;
    QTest::newRow("the day before day zero") << 1899 << 12 << 29 << true << -1.0;
    QTest::newRow("1900-01-01") << 1900 << 1 << 1 << true << 2.0;
    QTest::newRow("1900-03-01 after a 1900 without Feb 29") << 1900 << 3 << 1 << true << 61.0;
    QTest::newRow("2008-05-06") << 2008 << 5 << 6 << true << 39574.0;
    QTest::newRow("2024-03-05") << 2024 << 3 << 5 << true << 45356.0;
    QTest::newRow("first day of year 1") << 1 << 1 << 1 << true << -693593.0;
    QTest::newRow("last day of year 9999") << 9999 << 12 << 31 << true << 2958465.0;
    QTest::newRow("leap day 2024") << 2024 << 2 << 29 << true << 45351.0;
    QTest::newRow("leap day 2000 (divisible by 400)") << 2000 << 2 << 29 << true << 36585.0;
    QTest::newRow("leap day 1600, proleptic") << 1600 << 2 << 29 << true << -109512.0;
    QTest::newRow("no leap day 2023") << 2023 << 2 << 29 << false << 0.0;
    QTest::newRow("no leap day 1900 (century)") << 1900 << 2 << 29 << false << 0.0;
    QTest::newRow("April 31") << 2024 << 4 << 31 << false << 0.0;
    QTest::newRow("day 0") << 2024 << 1 << 0 << false << 0.0;
    QTest::newRow("month 0") << 2024 << 0 << 1 << false << 0.0;
    QTest::newRow("month 13") << 2024 << 13 << 1 << false << 0.0;
    QTest::newRow("year 0") << 0 << 1 << 1 << false << 0.0;
    QTest::newRow("year 10000") << 10000 << 1 << 1 << false << 0.0;
    QTest::newRow("negative year") << -1 << 1 << 1 << false << 0.0;
}

void TstDateTime::encodeDate()
{
    QFETCH(int, year);
    QFETCH(int, month);
    QFETCH(int, day);
    QFETCH(bool, valid);
    QFETCH(double, expected);

    TDateTime result = 12345.0;
    QCOMPARE(TryEncodeDate(year, month, day, result), valid);
    QCOMPARE(Exact(result), Exact(valid ? expected : 12345.0));
}

void TstDateTime::encodeTime_data()
{
    QTest::addColumn<int>("hour");
    QTest::addColumn<int>("minute");
    QTest::addColumn<int>("second");
    QTest::addColumn<int>("msec");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("expected");

    QTest::newRow("midnight") << 0 << 0 << 0 << 0 << true << 0.0;
    QTest::newRow("six o'clock") << 6 << 0 << 0 << 0 << true << 0.25;
    QTest::newRow("noon") << 12 << 0 << 0 << 0 << true << 0.5;
    QTest::newRow("last millisecond")
        << 23 << 59 << 59 << 999 << true << 86'399'999.0 / 86'400'000.0;
    QTest::newRow("24:00") << 24 << 0 << 0 << 0 << false << 0.0;
    QTest::newRow("minute 60") << 0 << 60 << 0 << 0 << false << 0.0;
    QTest::newRow("second 60") << 0 << 0 << 60 << 0 << false << 0.0;
    QTest::newRow("millisecond 1000") << 0 << 0 << 0 << 1000 << false << 0.0;
    QTest::newRow("negative hour") << -1 << 0 << 0 << 0 << false << 0.0;
}

void TstDateTime::encodeTime()
{
    QFETCH(int, hour);
    QFETCH(int, minute);
    QFETCH(int, second);
    QFETCH(int, msec);
    QFETCH(bool, valid);
    QFETCH(double, expected);

    TDateTime result = 0.75;
    QCOMPARE(TryEncodeTime(hour, minute, second, msec, result), valid);
    QCOMPARE(Exact(result), Exact(valid ? expected : 0.75));
}

void TstDateTime::encodeDateTimeRefusesWhatDoesNotExist()
{
    // Before day zero the time of day is subtracted from the (negative) day.
    QCOMPARE(Exact(EncodeDateTime(1899, 12, 29, 6, 0)), Exact(-1.25));
    QCOMPARE(Exact(EncodeDateTime(1899, 12, 30, 6, 0)), Exact(0.25));

    QString message;
    try {
        EncodeDateTime(2023, 2, 29);
    } catch (const DoorlockError& e) {
        message = e.message();
    }
    QCOMPARE(message, u"Invalid argument to date encode"_s);
    message.clear();
    try {
        EncodeDateTime(2024, 2, 29, 24, 0);
    } catch (const DoorlockError& e) {
        message = e.message();
    }
    QCOMPARE(message, u"Invalid argument to time encode"_s);
}

void TstDateTime::decode_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    const double lastMs = 86'399'999.0 / 86'400'000.0;
    QTest::newRow("day zero") << 0.0 << u"1899-12-30 00:00:00.000"_s;
    QTest::newRow("noon") << 45356.5 << u"2024-03-05 12:00:00.000"_s;
    QTest::newRow("last millisecond") << 45356 + lastMs << u"2024-03-05 23:59:59.999"_s;
    QTest::newRow("rounds down below half a millisecond")
        << 45356 + 86'399'999.4 / 86'400'000.0 << u"2024-03-05 23:59:59.999"_s;
    QTest::newRow("rounds up to 24:00, the next day")
        << 45356 + 86'399'999.6 / 86'400'000.0 << u"2024-03-06 00:00:00.000"_s;
    QTest::newRow("rounding carries over the year end")
        << EncodeDateTime(2023, 12, 31) + 86'399'999.7 / 86'400'000.0
        << u"2024-01-01 00:00:00.000"_s;
    QTest::newRow("before day zero, time counted from the day")
        << -1.25 << u"1899-12-29 06:00:00.000"_s;
    QTest::newRow("between -1 and 0 is day zero") << -0.25 << u"1899-12-30 06:00:00.000"_s;
    QTest::newRow("before day zero, rounding up goes to the next calendar day")
        << -1.9999999999 << u"1899-12-30 00:00:00.000"_s;
    QTest::newRow("day zero's last moment rounds up to the next calendar day")
        << -0.9999999999 << u"1899-12-31 00:00:00.000"_s;
    QTest::newRow("first moment") << -693593.0 << u"0001-01-01 00:00:00.000"_s;
    QTest::newRow("last moment") << 2958465 + lastMs << u"9999-12-31 23:59:59.999"_s;
}

void TstDateTime::decode()
{
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(Describe(Decode(value)), expected);
}

void TstDateTime::decodeRefusesValuesOutsideTheCalendar_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity();
    QTest::newRow("minus infinity") << -std::numeric_limits<double>::infinity();
    QTest::newRow("huge") << 1e300;
    QTest::newRow("year 10000") << 2958466.0;
    QTest::newRow("year 0") << -693594.0;
    QTest::newRow("rounds up into year 10000") << 2958465.9999999999;
}

void TstDateTime::decodeRefusesValuesOutsideTheCalendar()
{
    QFETCH(double, value);
    QVERIFY_THROWS_EXCEPTION(DoorlockError, Decode(value));
}

void TstDateTime::decodeInvertsEncodeOnEveryDay()
{
    // Walks the whole calendar: each day follows the one before, and encodes back to itself.
    DecodedDateTime previous = Decode(-693593.0);
    QCOMPARE(Describe(previous), u"0001-01-01 00:00:00.000"_s);
    for (int day = -693592; day <= 2958465; ++day) {
        const DecodedDateTime d = Decode(day);
        const bool nextDay =
            d.Year == previous.Year && d.Month == previous.Month && d.Day == previous.Day + 1;
        const bool nextMonth =
            d.Year == previous.Year && d.Month == previous.Month + 1 && d.Day == 1;
        const bool nextYear =
            d.Year == previous.Year + 1 && d.Month == 1 && d.Day == 1 && previous.Month == 12;
        if (!(nextDay || nextMonth || nextYear))
            QFAIL(qPrintable(Describe(d) + u" follows "_s + Describe(previous)));
        TDateTime encoded = 0;
        if (!TryEncodeDate(d.Year, d.Month, d.Day, encoded) || encoded != day)
            QFAIL(qPrintable(Describe(d) + u" does not encode back to "_s + Exact(day)));
        previous = d;
    }
    QCOMPARE(Describe(previous), u"9999-12-31 00:00:00.000"_s);
}

void TstDateTime::readValid_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("currentYear");
    QTest::addColumn<double>("expected");

    const auto row = [](const char* name, const QString& text, int year, TDateTime expected) {
        QTest::newRow(name) << text << year << expected;
    };
    row("date and time with seconds", u"2008-05-06 09:05:00"_s, 2026,
        EncodeDateTime(2008, 5, 6, 9, 5, 0));
    row("single-digit fields", u"2024-3-5 9:05"_s, 2026, EncodeDateTime(2024, 3, 5, 9, 5));
    row("date alone", u"2024-03-05"_s, 2026, EncodeDateTime(2024, 3, 5));
    row("date and hour alone", u"2024-03-05 14"_s, 2026, EncodeDateTime(2024, 3, 5, 14));
    row("milliseconds", u"2024-03-05 23:59:59.999"_s, 2026,
        EncodeDateTime(2024, 3, 5, 23, 59, 59, 999));
    row("decimal digits are a count of milliseconds", u"2024-03-05 9:05:00.5"_s, 2026,
        EncodeDateTime(2024, 3, 5, 9, 5, 0, 5));
    row("milliseconds only after seconds; the rest is ignored", u"2024-03-05 9:05.30"_s, 2026,
        EncodeDateTime(2024, 3, 5, 9, 5));

    row("two-digit year in 2008", u"08-05-06"_s, 2008, EncodeDateTime(2008, 5, 6));
    row("two-digit year 57 in 2008 is 2057", u"57-01-01"_s, 2008, EncodeDateTime(2057, 1, 1));
    row("two-digit year 58 in 2008 is 1958", u"58-01-01"_s, 2008, EncodeDateTime(1958, 1, 1));
    row("two-digit year 75 in 2026 is 2075", u"75-01-01"_s, 2026, EncodeDateTime(2075, 1, 1));
    row("two-digit year 76 in 2026 is 1976", u"76-01-01"_s, 2026, EncodeDateTime(1976, 1, 1));
    row("one-digit year", u"8-1-2"_s, 2008, EncodeDateTime(2008, 1, 2));
    row("three-digit year is taken as written", u"008-01-02"_s, 2008, EncodeDateTime(8, 1, 2));
    row("leading zeros do not stop a number", u"00001-1-1"_s, 2008, EncodeDateTime(1, 1, 1));

    row("month-day in 2008", u"5-6"_s, 2008, EncodeDateTime(2008, 5, 6));
    row("month-day in 2026", u"5-6"_s, 2026, EncodeDateTime(2026, 5, 6));
    row("month-day and time", u"5-6 14:30"_s, 2026, EncodeDateTime(2026, 5, 6, 14, 30));

    row("blanks before numbers and separators", u" 2024 - 03 - 05 14 : 00"_s, 2026,
        EncodeDateTime(2024, 3, 5, 14, 0));
    row("extra dash and blank after the date", u"2024-03-05- 14:00"_s, 2026,
        EncodeDateTime(2024, 3, 5, 14, 0));
    row("extra dash straight before the time", u"2024-03-05-14:00"_s, 2026,
        EncodeDateTime(2024, 3, 5, 14, 0));
    row("extra dash and nothing after", u"2024-03-05- "_s, 2026, EncodeDateTime(2024, 3, 5));
    row("text after date and time is ignored", u"2024-03-05 14:00 checkout"_s, 2026,
        EncodeDateTime(2024, 3, 5, 14, 0));

    row("leap day 2024", u"2024-02-29"_s, 2026, EncodeDateTime(2024, 2, 29));
    row("leap day 2000", u"2000-02-29"_s, 2026, EncodeDateTime(2000, 2, 29));
    row("first day of year 1", u"0001-01-01"_s, 2026, -693593.0);
    row("last moment of year 9999", u"9999-12-31 23:59:59.999"_s, 2026,
        EncodeDateTime(9999, 12, 31, 23, 59, 59, 999));
    row("before day zero", u"1899-12-29 06:00"_s, 2026, -1.25);

    row("time alone is on day zero", u"14:07"_s, 2026, EncodeDateTime(1899, 12, 30, 14, 7));
    row("hour alone", u"14"_s, 2026, EncodeDateTime(1899, 12, 30, 14));
    row("last millisecond alone", u"23:59:59.999"_s, 2026,
        EncodeDateTime(1899, 12, 30, 23, 59, 59, 999));
    row("time alone with blanks around", u"  9:05  "_s, 2026, EncodeDateTime(1899, 12, 30, 9, 5));

    row("12:00 AM is midnight", u"12:00 AM"_s, 2026, 0.0);
    row("am in lower case", u"12:30 am"_s, 2026, EncodeDateTime(1899, 12, 30, 0, 30));
    row("12 PM is noon", u"12 PM"_s, 2026, 0.5);
    row("marker right after the time", u"1:00PM"_s, 2026, EncodeDateTime(1899, 12, 30, 13, 0));
    row("marker before the time", u"PM 3:00"_s, 2026, EncodeDateTime(1899, 12, 30, 15, 0));
    row("marker before the time without blank", u"pm3"_s, 2026,
        EncodeDateTime(1899, 12, 30, 15, 0));
    row("date with 12 AM", u"2024-03-05 12:00 AM"_s, 2026, EncodeDateTime(2024, 3, 5));
    row("date with marker before the time", u"2024-03-05 PM 3:00"_s, 2026,
        EncodeDateTime(2024, 3, 5, 15, 0));
    row("11:59:59 PM", u"11:59:59 PM"_s, 2026, EncodeDateTime(1899, 12, 30, 23, 59, 59));
}

void TstDateTime::readValid()
{
    QFETCH(QString, text);
    QFETCH(int, currentYear);
    QFETCH(double, expected);

    const TFixedYearClock clock(currentYear);
    const TFormatSettings formats = TFormatSettings::Fixed();
    QCOMPARE(Exact(StrToDateTime(text, formats, clock)), Exact(expected));
    TDateTime result = -7.0;
    QVERIFY(TryStrToDateTime(text, result, formats, clock));
    QCOMPARE(Exact(result), Exact(expected));
}

void TstDateTime::readInvalid_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QString();
    QTest::newRow("blanks only") << u"   "_s;
    QTest::newRow("plain text") << u"tomorrow"_s;
    QTest::newRow("February 30") << u"2024-02-30 10:00:00"_s;
    QTest::newRow("February 29 in 2023") << u"2023-02-29"_s;
    QTest::newRow("February 29 in 1900") << u"1900-02-29"_s;
    QTest::newRow("month 13") << u"2024-13-01"_s;
    QTest::newRow("year 0") << u"0000-01-01"_s;
    QTest::newRow("five-digit year") << u"12345-01-01"_s;
    QTest::newRow("year 10000") << u"10000-01-01"_s;
    QTest::newRow("endless digits") << u"2024-03-05 123456789012345678901234567890"_s;
    QTest::newRow("month-day with a trailing dash") << u"5-6-"_s;
    QTest::newRow("leading dash") << u"-5-6"_s;
    QTest::newRow("24:00 alone") << u"24:00"_s;
    QTest::newRow("24:00 after a date") << u"2024-03-05 24:00"_s;
    QTest::newRow("minute 60") << u"2024-03-05 10:60"_s;
    QTest::newRow("millisecond 1000") << u"23:59:59.1000"_s;
    QTest::newRow("no minutes after the separator") << u"2024-03-05 9:"_s;
    QTest::newRow("no seconds after the separator") << u"9:05:"_s;
    QTest::newRow("no milliseconds after the point") << u"9:05:00."_s;
    QTest::newRow("13 PM") << u"13:00 PM"_s;
    QTest::newRow("0 AM") << u"0:00 AM"_s;
    QTest::newRow("time alone with text after it") << u"14:07 checkout"_s;
    QTest::newRow("date followed by no time") << u"2024-03-05 noon"_s;
    QTest::newRow("marker alone") << u"PM"_s;
}

void TstDateTime::readInvalid()
{
    QFETCH(QString, text);

    const TFixedYearClock clock(2008);
    const TFormatSettings formats = TFormatSettings::Fixed();
    QCOMPARE(ErrorOf(text, formats, clock), u"'"_s + text + u"' is not a valid date and time"_s);
    TDateTime result = 42.0;
    QVERIFY(!TryStrToDateTime(text, result, formats, clock));
    QCOMPARE(Exact(result), Exact(42.0));
}

void TstDateTime::readUsesTheGivenMarkers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("own afternoon marker before")
        << u"下午3:00"_s << EncodeDateTime(1899, 12, 30, 15, 0);
    QTest::newRow("own afternoon marker after")
        << u"2024-03-05 3:00 下午"_s << EncodeDateTime(2024, 3, 5, 15, 0);
    QTest::newRow("own morning marker") << u"上午12:30"_s << EncodeDateTime(1899, 12, 30, 0, 30);
    QTest::newRow("AM/PM are still understood")
        << u"3:00 PM"_s << EncodeDateTime(1899, 12, 30, 15, 0);
}

void TstDateTime::readUsesTheGivenMarkers()
{
    QFETCH(QString, text);
    QFETCH(double, expected);

    const TFixedYearClock clock(2026);
    QCOMPARE(Exact(StrToDateTime(text, ChineseStyle(), clock)), Exact(expected));

    // A locale without morning/afternoon texts still takes AM and PM, and nothing else.
    TFormatSettings none = TFormatSettings::Fixed();
    none.TimeAMString.clear();
    none.TimePMString.clear();
    QCOMPARE(Exact(StrToDateTime(u"3:00 pm", none, clock)), Exact(0.625));
    QVERIFY_THROWS_EXCEPTION(DoorlockError, StrToDateTime(u"下午3:00", none, clock));
}

void TstDateTime::readUsesTheGivenSeparators()
{
    const TFixedYearClock clock(2026);
    QCOMPARE(Exact(StrToDateTime(u"2008/05/06 09.05.00,250", DotsAndCommaStyle(), clock)),
             Exact(EncodeDateTime(2008, 5, 6, 9, 5, 0, 250)));
    QCOMPARE(ErrorOf(u"2008-05-06 09:05:00", DotsAndCommaStyle(), clock),
             u"'2008-05-06 09:05:00' is not a valid date and time"_s);
}

void TstDateTime::fixedFormatsReadTheSameWhateverTheSystem_data()
{
    QTest::addColumn<QLocale>("system");
    QTest::addColumn<bool>("readsDashDates"); // before the formats are fixed

    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << false;
    QTest::newRow("US English") << QLocale(QLocale::English, QLocale::UnitedStates) << false;
    QTest::newRow("Chinese") << QLocale(QLocale::Chinese, QLocale::China) << false;
    QTest::newRow("Finnish") << QLocale(QLocale::Finnish, QLocale::Finland) << false;
    QTest::newRow("C") << QLocale::c() << true;
}

void TstDateTime::fixedFormatsReadTheSameWhateverTheSystem()
{
    QFETCH(QLocale, system);
    QFETCH(bool, readsDashDates);

    // Before fixing, the regional separators decide.
    FixProcessFormats(TFormatSettings::FromLocale(system));
    TDateTime unfixed = 0;
    QCOMPARE(TryStrToDateTime(u"2008-05-06 09:05:00", unfixed), readsDashDates);

    FixProcessFormats(TFormatSettings::Fixed());
    QCOMPARE(Exact(StrToDateTime(u"2008-05-06 09:05:00")),
             Exact(EncodeDateTime(2008, 5, 6, 9, 5, 0)));
    QCOMPARE(FormatDateTime(u"yyyy-mm-dd hh:nn:ss", EncodeDateTime(2008, 5, 6, 9, 5, 0)),
             u"2008-05-06 09:05:00"_s);
}

void TstDateTime::formatsFromLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QChar>("dateSeparator");
    QTest::addColumn<QChar>("timeSeparator");
    QTest::addColumn<QChar>("decimalSeparator");
    QTest::addColumn<QString>("am");
    QTest::addColumn<QString>("pm");

    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << QChar(u'.')
                            << QChar(u':') << QChar(u',') << u"AM"_s << u"PM"_s;
    QTest::newRow("US English") << QLocale(QLocale::English, QLocale::UnitedStates) << QChar(u'/')
                                << QChar(u':') << QChar(u'.') << u"AM"_s << u"PM"_s;
    QTest::newRow("Chinese") << QLocale(QLocale::Chinese, QLocale::China) << QChar(u'/')
                             << QChar(u':') << QChar(u'.') << u"上午"_s << u"下午"_s;
    QTest::newRow("Finnish, dotted time")
        << QLocale(QLocale::Finnish, QLocale::Finland) << QChar(u'.') << QChar(u'.') << QChar(u',')
        << u"ap."_s << u"ip."_s;
    // "d MMM yyyy": blanks part nothing for the reader, so the dash stands in.
    QTest::newRow("C, no separator in the date")
        << QLocale::c() << QChar(u'-') << QChar(u':') << QChar(u'.') << u"AM"_s << u"PM"_s;
}

void TstDateTime::formatsFromLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QChar, dateSeparator);
    QFETCH(QChar, timeSeparator);
    QFETCH(QChar, decimalSeparator);
    QFETCH(QString, am);
    QFETCH(QString, pm);

    const TFormatSettings formats = TFormatSettings::FromLocale(locale);
    QCOMPARE(formats.DateSeparator, dateSeparator);
    QCOMPARE(formats.TimeSeparator, timeSeparator);
    QCOMPARE(formats.DecimalSeparator, decimalSeparator);
    QCOMPARE(formats.TimeAMString, am);
    QCOMPARE(formats.TimePMString, pm);
}

void TstDateTime::fixedFormats()
{
    const TFormatSettings formats = TFormatSettings::Fixed();
    QCOMPARE(formats.DateSeparator, QChar(u'-'));
    QCOMPARE(formats.TimeSeparator, QChar(u':'));
    QCOMPARE(formats.DecimalSeparator, QChar(u'.'));
    QCOMPARE(formats.ShortDateFormat, u"yyyy-MM-dd"_s);
    QCOMPARE(formats.LongDateFormat, u"yyyy-MM-dd"_s);
    QCOMPARE(formats.ShortTimeFormat, u"hh:mm:ss"_s);
    QCOMPARE(formats.LongTimeFormat, u"hh:mm:ss"_s);
    QVERIFY(!formats.TimeAMString.isEmpty());
    QVERIFY(!formats.TimePMString.isEmpty());
}

void TstDateTime::format_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("dotted"); // time separator '.', date separator '/'
    QTest::addColumn<QString>("expected");

    const TDateTime sample = EncodeDateTime(2008, 11, 6, 9, 5, 3, 7);
    QTest::newRow("log file name") << u"yyyymmdd"_s << sample << false << u"20081106"_s;
    QTest::newRow("log stamp") << u"yyyy-mm-dd hh:nn:ss"_s << sample << false
                               << u"2008-11-06 09:05:03"_s;
    QTest::newRow("card end") << u"yyyymmddhhnn"_s << sample << false << u"200811060905"_s;
    QTest::newRow("upper case") << u"YYYY-MM-DD HH:NN:SS"_s << sample << false
                                << u"2008-11-06 09:05:03"_s;
    QTest::newRow("log stamp keeps dashes, colons become the separator")
        << u"yyyy-mm-dd hh:nn:ss"_s << sample << true << u"2008-11-06 09.05.03"_s;
    QTest::newRow("slash becomes the date separator")
        << u"yyyy/mm/dd"_s << sample << true << u"2008/11/06"_s;
    QTest::newRow("colon is the time separator by default")
        << u"hh:nn"_s << sample << false << u"09:05"_s;
    QTest::newRow("mm after hh is minutes")
        << u"hh:mm dd/mm"_s << sample << false << u"09:05 06-11"_s;
    QTest::newRow("mm after another letter is the month")
        << u"hhxmm"_s << sample << false << u"09x11"_s;
    QTest::newRow("single letters are not padded")
        << u"d/m/yy h:n:s"_s << sample << false << u"6-11-08 9:5:3"_s;
    QTest::newRow("m after h is minutes") << u"h:m"_s << sample << false << u"9:5"_s;
    QTest::newRow("milliseconds") << u"hh:nn:ss.zzz"_s << sample << false << u"09:05:03.007"_s;
    QTest::newRow("two-digit year") << u"yy"_s << EncodeDateTime(2000, 1, 1) << false << u"00"_s;
    QTest::newRow("four-digit year is zero-padded")
        << u"yyyy-mm-dd"_s << EncodeDateTime(8, 1, 2) << false << u"0008-01-02"_s;
    QTest::newRow("other characters are copied")
        << u"[yyyy] T \"at\" q"_s << sample << false << u"[2008] T \"at\" q"_s;
    QTest::newRow("rounding to the millisecond reaches the next day")
        << u"yyyy-mm-dd hh:nn:ss.zzz"_s
        << EncodeDateTime(2023, 12, 31) + 86'399'999.6 / 86'400'000.0 << false
        << u"2024-01-01 00:00:00.000"_s;
    QTest::newRow("before day zero")
        << u"yyyy-mm-dd hh:nn:ss"_s << -1.25 << false << u"1899-12-29 06:00:00"_s;
    QTest::newRow("empty pattern") << QString() << sample << false << QString();
}

void TstDateTime::format()
{
    QFETCH(QString, pattern);
    QFETCH(double, value);
    QFETCH(bool, dotted);
    QFETCH(QString, expected);

    TFormatSettings formats = TFormatSettings::Fixed();
    if (dotted) {
        formats.TimeSeparator = u'.';
        formats.DateSeparator = u'/';
    }
    QCOMPARE(FormatDateTime(pattern, value, formats), expected);
}

void TstDateTime::formatRefusesValuesOutsideTheCalendar()
{
    QVERIFY_THROWS_EXCEPTION(DoorlockError,
                             FormatDateTime(u"yyyymmddhhnn", 1e20, TFormatSettings::Fixed()));
}

void TstDateTime::addMinutes_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<qint64>("minutes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("check-out 12:00 plus 30")
        << EncodeDateTime(2024, 3, 5, 12, 0) << qint64(30) << u"2024-03-05 12:30:00.000"_s;
    QTest::newRow("check-in minus 30 across midnight")
        << EncodeDateTime(2024, 3, 5, 0, 15) << qint64(-30) << u"2024-03-04 23:45:00.000"_s;
    QTest::newRow("plus one day") << EncodeDateTime(2024, 2, 28, 14, 0) << qint64(1440)
                                  << u"2024-02-29 14:00:00.000"_s;
    QTest::newRow("over the year end")
        << EncodeDateTime(2023, 12, 31, 23, 50) << qint64(20) << u"2024-01-01 00:10:00.000"_s;
    QTest::newRow("minus a leap year") << EncodeDateTime(2024, 12, 31, 8, 0) << qint64(-366 * 1440)
                                       << u"2023-12-31 08:00:00.000"_s;
    QTest::newRow("seconds are kept")
        << EncodeDateTime(2024, 3, 5, 9, 5, 30) << qint64(45) << u"2024-03-05 09:50:30.000"_s;
    QTest::newRow("zero minutes") << EncodeDateTime(2024, 3, 5, 9, 5) << qint64(0)
                                  << u"2024-03-05 09:05:00.000"_s;
    QTest::newRow("before day zero the clock still runs forward")
        << EncodeDateTime(1899, 12, 29, 6, 0) << qint64(30) << u"1899-12-29 06:30:00.000"_s;
    QTest::newRow("back across day zero")
        << EncodeDateTime(1899, 12, 30, 0, 10) << qint64(-20) << u"1899-12-29 23:50:00.000"_s;
    QTest::newRow("forward across day zero")
        << EncodeDateTime(1899, 12, 29, 23, 50) << qint64(20) << u"1899-12-30 00:10:00.000"_s;
    QTest::newRow("day zero's time of day, moved back a day")
        << EncodeDateTime(1899, 12, 30, 6, 0) << qint64(-1440) << u"1899-12-29 06:00:00.000"_s;
}

void TstDateTime::addMinutes()
{
    QFETCH(double, start);
    QFETCH(qint64, minutes);
    QFETCH(QString, expected);
    QCOMPARE(Describe(Decode(AddMinutes(start, minutes))), expected);
}

void TstDateTime::addMinutesThereAndBackIsExact()
{
    // The card end of a 12:00 check-out with 30 minutes' delay is the very value that
    // 12:30 reads as, so it compares equal with stored and typed times.
    QCOMPARE(Exact(AddMinutes(EncodeDateTime(2024, 3, 5, 12, 0), 30)),
             Exact(EncodeDateTime(2024, 3, 5, 12, 30)));
    QCOMPARE(Exact(AddMinutes(EncodeDateTime(2024, 3, 5, 12, 30), -30)),
             Exact(EncodeDateTime(2024, 3, 5, 12, 0)));

    // Typical times: every quarter hour over two weeks, moved by typical delays.
    const TDateTime first = EncodeDateTime(2024, 2, 25);
    for (int quarter = 0; quarter < 14 * 96; ++quarter) {
        const TDateTime t = AddMinutes(first, quarter * 15LL);
        for (const qint64 minutes : {1, 15, 30, 120, 1440, 10080, 525600}) {
            const TDateTime back = AddMinutes(AddMinutes(t, -minutes), minutes);
            if (back != t)
                QFAIL(qPrintable(Describe(Decode(t)) + u" -/+ "_s + QString::number(minutes) +
                                 u" gives "_s + Exact(back) + u" not "_s + Exact(t)));
        }
    }
}

void TstDateTime::systemClockIsTheLocalWallClock()
{
    const auto encode = [](const QDateTime& dt) {
        return EncodeDateTime(dt.date().year(), dt.date().month(), dt.date().day(),
                              dt.time().hour(), dt.time().minute(), dt.time().second(),
                              dt.time().msec());
    };
    const QDateTime before = QDateTime::currentDateTime();
    const TDateTime now = TClock::System().Now();
    const int year = TClock::System().CurrentYear();
    const QDateTime after = QDateTime::currentDateTime();

    QVERIFY(encode(before) <= now);
    QVERIFY(now <= encode(after));
    QVERIFY(year == before.date().year() || year == after.date().year());
}

void TstDateTime::cleanup()
{
    FixProcessFormats(TFormatSettings::Fixed());
}

QTEST_GUILESS_MAIN(TstDateTime)
#include "tst_datetime.moc"
