// Date-time texts come from requests (check-in and check-out). Reading must never crash; a text
// that reads gives a value that formats, and its full form reads back to the same value.
// Input: the date-time text, optionally followed by a NUL and an output pattern to try.
#include "DateTimeUnit.h"
#include "DoorlockError.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

// Fixed, so that a finding reproduces on any day.
class TFixedClock : public TClock
{
public:
    TDateTime Now() const override { return 45356.588194444; } // 2024-03-05 14:07
    int CurrentYear() const override { return 2024; }
};

// The program's own formats, and regional ones with other separators and day names.
const TFormatSettings& Formats(int which)
{
    static const TFormatSettings program;
    static const TFormatSettings regional = [] {
        TFormatSettings formats;
        formats.DateSeparator = u'/';
        formats.TimeSeparator = u'.';
        formats.DecimalSeparator = u',';
        formats.ShortDateFormat = u"dd/MM/yyyy"_s;
        formats.ShortTimeFormat = u"HH.mm"_s;
        formats.TimeAMString = u"上午"_s;
        formats.TimePMString = u"下午"_s;
        formats.TwoDigitYearCenturyWindow = 0;
        return formats;
    }();
    return which == 0 ? program : regional;
}

void Check(QStringView text, QStringView pattern, const TFormatSettings& formats)
{
    static const TFixedClock clock;
    TDateTime value = 0;
    const bool valid = DateTime::TryStrToDateTime(text, value, formats, clock);
    try {
        const TDateTime thrown = DateTime::StrToDateTime(text, formats, clock);
        Require(valid && std::memcmp(&thrown, &value, sizeof value) == 0);
    } catch (const DoorlockError&) {
        Require(!valid);
    }

    if (!pattern.isEmpty()) {
        try {
            DateTime::FormatDateTime(pattern, valid ? value : 45356.5, formats);
        } catch (const DoorlockError&) {
            std::abort(); // a value in range always formats
        }
    }
    if (!valid)
        return;

    // Every field, with the separators the reader expects.
    const QString full = u"yyyy/mm/dd hh:nn:ss"_s + formats.DecimalSeparator + u"zzz"_s;
    const QString written = DateTime::FormatDateTime(full, value, formats);
    DateTime::FormatDateTime(u"yyyymmddhhnn", value, formats); // the card end stamp
    TDateTime reread = 0;
    Require(DateTime::TryStrToDateTime(written, reread, formats, clock));
    Require(reread == value);

    for (const std::int64_t minutes :
         {std::int64_t(-1440), std::int64_t(30), INT64_C(-100000000)}) {
        const TDateTime moved = DateTime::AddMinutes(value, minutes);
        try {
            DateTime::FormatDateTime(full, moved, formats);
        } catch (const DoorlockError&) {
            // Moved out of the calendar's range.
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    const auto* nul = static_cast<const char*>(std::memchr(bytes, 0, size));
    const std::size_t textSize = nul ? std::size_t(nul - bytes) : size;
    const QString text = QString::fromUtf8(bytes, qsizetype(textSize));
    const QString pattern =
        nul ? QString::fromUtf8(nul + 1, qsizetype(size - textSize - 1)) : QString();
    for (int which = 0; which < 2; ++which)
        Check(text, pattern, Formats(which));
    return 0;
}
