#include "EncoderSimulator.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string_view>
#include <thread>

namespace {

// Relative on purpose: the encoder's files follow the caller's current directory.
constexpr const char* SettingsFile = "VeltraQuillon.ini";
constexpr const char* CardFile = "EncoderCard.txt";
constexpr const char* ReadResultFile = "R_card.txt";
constexpr const char* JournalFile = "CardWR.journal";

constexpr int Success = 1;
constexpr int Malformed = 0;
constexpr int BadPort = -1;
constexpr int NoCard = -2;
constexpr int BlankCard = -3;

// A slow encoder is useful for load tests; an hour-long one is a typo.
constexpr int MaxDelayMs = 60000;

std::string_view Trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

std::optional<int> ParseInt(std::string_view text)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

bool IsDigits(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int DigitsValue(std::string_view digits)
{
    int value = 0;
    for (const char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

bool IsPortText(std::string_view port)
{
    // Exactly the decimal texts 1 to 10: no sign, no blanks, no leading zero.
    return (port.size() == 1 && port[0] >= '1' && port[0] <= '9') || port == "10";
}

// yyyymmddhhnn, a real calendar date (proleptic Gregorian) and a 24-hour clock time.
bool IsEndStamp(std::string_view stamp)
{
    if (stamp.size() != 12 || !IsDigits(stamp))
        return false;
    const int year = DigitsValue(stamp.substr(0, 4));
    const int month = DigitsValue(stamp.substr(4, 2));
    const int day = DigitsValue(stamp.substr(6, 2));
    const int hour = DigitsValue(stamp.substr(8, 2));
    const int minute = DigitsValue(stamp.substr(10, 2));
    if (year < 1 || month < 1 || month > 12 || hour > 23 || minute > 59)
        return false;
    static constexpr int daysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int lastDay = daysIn[month - 1] + (month == 2 && leap ? 1 : 0);
    return day >= 1 && day <= lastDay;
}

// The room goes into a "+"-separated line of a text file: it must come back unchanged.
bool IsStorableRoom(std::string_view room)
{
    return room.find_first_of("+\r\n") == std::string_view::npos;
}

// Missing file: true with an empty line. Present but unreadable: false.
bool ReadFirstLine(const char* path, std::string& line)
{
    line.clear();
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found)
        return true;
    if (ec || status.type() != std::filesystem::file_type::regular)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::getline(in, line);
    if (in.bad())
        return false;
    line.erase(std::min(line.find('\r'), line.size()));
    return true;
}

// Overwrites the file in place and then cuts it to the new length. Neither a side file with a
// rename nor a truncation to zero first: on ext4 both make the close wait for the data to reach
// the disk, a cost the real library's plain writes do not have. The caller reads the file only
// after the call has returned.
bool ReplaceFile(const char* path, std::string_view content)
{
    std::FILE* file = std::fopen(path, "r+b");
    if (file == nullptr)
        file = std::fopen(path, "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const bool closed = std::fclose(file) == 0;
    std::error_code ec;
    if (written && closed)
        std::filesystem::resize_file(path, content.size(), ec);
    return written && closed && !ec;
}

// Keeps every journal entry on one line with "|" as the only separator.
void AppendEscaped(std::string& out, const char* text)
{
    if (text == nullptr) {
        out += "\\N";
        return;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        switch (*p) {
        case '\\':
            out += "\\\\";
            break;
        case '|':
            out += "\\|";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += *p;
        }
    }
}

void Journal(const char* function, std::initializer_list<const char*> args, int result)
{
    std::string line = function;
    for (const char* arg : args) {
        line += '|';
        AppendEscaped(line, arg);
    }
    // snprintf rather than std::to_string: the latter would export a libstdc++ table symbol.
    char number[16];
    std::snprintf(number, sizeof number, "|%d\r\n", result);
    line += number;

    // One unbuffered write per entry: with append mode, lines from other processes that
    // share the directory do not interleave within a line.
    std::FILE* file = std::fopen(JournalFile, "ab");
    if (file == nullptr)
        return;
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

void Delay(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

EncoderSimulator::Settings EncoderSimulator::LoadSettings()
{
    Settings settings;
    std::ifstream in(SettingsFile, std::ios::binary);
    if (!in)
        return settings;

    bool inEncoder = false;
    bool seenCardPresent = false, seenResult = false, seenDelay = false, seenCardLine = false;
    std::string raw;
    bool firstLine = true;
    while (std::getline(in, raw)) {
        std::string_view line = raw;
        if (firstLine && line.substr(0, 3) == "\xEF\xBB\xBF")
            line.remove_prefix(3); // saved by an editor that marks UTF-8
        firstLine = false;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = Trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const auto close = line.find(']');
            inEncoder = close != std::string_view::npos &&
                        EqualsIgnoringCase(Trim(line.substr(1, close - 1)), "Encoder");
            continue;
        }
        const auto equals = line.find('=');
        if (!inEncoder || equals == std::string_view::npos)
            continue;
        const std::string_view key = Trim(line.substr(0, equals));
        std::string_view value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);

        // The first occurrence of a key counts; a value that is not a number is ignored.
        if (EqualsIgnoringCase(key, "CardPresent") && !seenCardPresent) {
            seenCardPresent = true;
            if (const auto number = ParseInt(value))
                settings.CardPresent = *number != 0;
        } else if (EqualsIgnoringCase(key, "Result") && !seenResult) {
            seenResult = true;
            settings.Result = ParseInt(value);
        } else if (EqualsIgnoringCase(key, "DelayMs") && !seenDelay) {
            seenDelay = true;
            if (const auto number = ParseInt(value))
                settings.DelayMs = std::clamp(*number, 0, MaxDelayMs);
        } else if (EqualsIgnoringCase(key, "CardLine") && !seenCardLine) {
            seenCardLine = true;
            settings.CardLine = std::string(value);
        }
    }
    return settings;
}

int EncoderSimulator::Write(const Settings& settings, const WriteArguments& args)
{
    if (std::find(args.begin(), args.end(), nullptr) != args.end())
        return Malformed;
    if (!IsPortText(args[0]))
        return BadPort;
    const std::string_view room = args[1], stamp = args[3], kind = args[8];
    if (!IsStorableRoom(room) || !IsEndStamp(stamp) || (kind != "0" && kind != "1"))
        return Malformed;
    if (!settings.CardPresent)
        return NoCard;

    // The card carries what a read reports: room+kind+yyyy-mm-dd hh:nn:00.
    std::string card;
    card.append(room).append("+").append(kind).append("+");
    card.append(stamp.substr(0, 4)).append("-").append(stamp.substr(4, 2)).append("-");
    card.append(stamp.substr(6, 2)).append(" ").append(stamp.substr(8, 2)).append(":");
    card.append(stamp.substr(10, 2)).append(":00\r\n");
    return ReplaceFile(CardFile, card) ? Success : Malformed;
}

int EncoderSimulator::Read(const Settings& settings, const char* port)
{
    if (port == nullptr)
        return Malformed;
    if (!IsPortText(port))
        return BadPort;
    if (!settings.CardPresent)
        return NoCard;
    std::string card;
    if (!ReadFirstLine(CardFile, card))
        return Malformed;
    if (card.empty())
        return BlankCard;
    const std::string& line = settings.CardLine ? *settings.CardLine : card;
    return ReplaceFile(ReadResultFile, line + "\r\n") ? Success : Malformed;
}

int EncoderSimulator::Erase(const Settings& settings, const char* port)
{
    if (port == nullptr)
        return Malformed;
    if (!IsPortText(port))
        return BadPort;
    if (!settings.CardPresent)
        return NoCard;
    return ReplaceFile(CardFile, {}) ? Success : Malformed;
}

int EncoderSimulator::WriteCard(const WriteArguments& args)
{
    std::lock_guard lock(m_mutex);
    const Settings settings = LoadSettings();
    Delay(settings.DelayMs);
    const int result = settings.Result ? *settings.Result : Write(settings, args);
    Journal("W_Card",
            {args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7], args[8]},
            result);
    return result;
}

int EncoderSimulator::ReadCard(const char* port)
{
    std::lock_guard lock(m_mutex);
    const Settings settings = LoadSettings();
    Delay(settings.DelayMs);
    const int result = settings.Result ? *settings.Result : Read(settings, port);
    Journal("R_Card", {port}, result);
    return result;
}

int EncoderSimulator::EraseCard(const char* port)
{
    std::lock_guard lock(m_mutex);
    const Settings settings = LoadSettings();
    Delay(settings.DelayMs);
    const int result = settings.Result ? *settings.Result : Erase(settings, port);
    Journal("L_Card", {port}, result);
    return result;
}
