#include "PrivateProfile.h"

#include "DoorlockError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr const char* Codec = "GBK";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Blanks never occur inside a GBK double-byte character, so trimming bytes is safe.
QByteArrayView trimBlanks(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && isBlank(bytes.front()))
        bytes = bytes.sliced(1);
    while (!bytes.isEmpty() && isBlank(bytes.back()))
        bytes.chop(1);
    return bytes;
}

QStringView trimBlanks(QStringView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

bool isLeadByte(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x81 && b <= 0xFE;
}

bool isTrailByte(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE);
}

// The length of the longest prefix of at most limit bytes that does not end in the middle of
// a double-byte character, so a cut value never ends in a stray lead byte.
qsizetype cutPoint(QByteArrayView bytes, qsizetype limit)
{
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        const bool pair =
            isLeadByte(bytes[pos]) && pos + 1 < bytes.size() && isTrailByte(bytes[pos + 1]);
        const qsizetype width = pair ? 2 : 1;
        if (pos + width > limit)
            break;
        pos += width;
    }
    return pos;
}

QString decodeGbk(QByteArrayView bytes)
{
    QStringDecoder decoder(Codec);
    return decoder.decode(bytes);
}

std::optional<QByteArray> encodeGbk(const QString& text)
{
    QStringEncoder encoder(Codec);
    QByteArray bytes = encoder.encode(text);
    if (!encoder.isValid() || encoder.hasError())
        return std::nullopt;
    return bytes;
}

// Names are ASCII; folding only A-Z keeps other characters distinct.
bool sameName(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    const auto fold = [](char16_t c) -> char16_t {
        return (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c;
    };
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (fold(a[i].unicode()) != fold(b[i].unicode()))
            return false;
    }
    return true;
}

// One line of the file: its text is [begin, end), its line break [end, next).
struct Line
{
    qsizetype begin;
    qsizetype end;
    qsizetype next;
};

std::vector<Line> splitLines(const QByteArray& data)
{
    std::vector<Line> lines;
    qsizetype pos = 0;
    while (pos < data.size()) {
        const qsizetype lf = data.indexOf('\n', pos);
        const qsizetype next = lf < 0 ? data.size() : lf + 1;
        qsizetype end = lf < 0 ? data.size() : lf;
        if (end > pos && data[end - 1] == '\r')
            --end;
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

enum class LineKind
{
    Other,
    Section,
    Key
};

struct ParsedLine
{
    LineKind kind = LineKind::Other;
    QString name;
    qsizetype equals = -1; // offset of the first '=' in a key line
};

ParsedLine parseLine(QByteArrayView text)
{
    const QByteArrayView trimmed = trimBlanks(text);
    if (trimmed.startsWith('[')) {
        // Decoded, because ']' is also a valid second byte of a double-byte character.
        const QString decoded = decodeGbk(trimmed);
        if (decoded.size() >= 2 && decoded.endsWith(u']')) {
            const QStringView inner = QStringView(decoded).sliced(1, decoded.size() - 2);
            return {LineKind::Section, trimBlanks(inner).toString(), -1};
        }
    }
    const qsizetype equals = text.indexOf('=');
    if (equals >= 0)
        return {LineKind::Key, decodeGbk(trimBlanks(text.first(equals))), equals};
    return {};
}

struct Location
{
    std::vector<Line> lines;
    qsizetype section = -1; // line of the first section of that name
    qsizetype key = -1;     // line of the first key of that name in it
    qsizetype lastKey = -1; // last key line of that section
    qsizetype equals = -1;  // offset of '=' in the key's line
};

Location locate(const QByteArray& data, const QString& section, const QString& key)
{
    Location loc;
    loc.lines = splitLines(data);
    for (qsizetype i = 0; i < qsizetype(loc.lines.size()); ++i) {
        const Line& line = loc.lines[size_t(i)];
        const ParsedLine parsed =
            parseLine(QByteArrayView(data).sliced(line.begin, line.end - line.begin));
        if (parsed.kind == LineKind::Section) {
            if (loc.section >= 0)
                break;
            if (sameName(parsed.name, section))
                loc.section = i;
        } else if (parsed.kind == LineKind::Key && loc.section >= 0) {
            loc.lastKey = i;
            if (loc.key < 0 && sameName(parsed.name, key)) {
                loc.key = i;
                loc.equals = parsed.equals;
            }
        }
    }
    return loc;
}

// What must follow a line so that a new line can start after it.
QByteArray missingBreak(const QByteArray& data, const Line& line)
{
    if (line.next > 0 && data[line.next - 1] == '\n')
        return {};
    return line.next > line.end ? "\n"_ba : "\r\n"_ba;
}

bool hasForbiddenChar(const QString& text, QStringView forbidden)
{
    for (const QChar c : text) {
        if (forbidden.contains(c))
            return true;
    }
    return false;
}

// A section name must come back from "[name]" as it went in.
bool isWritableSection(const QString& name)
{
    return !name.isEmpty() && trimBlanks(QStringView(name)).size() == name.size() &&
           !hasForbiddenChar(name, u"]\r\n\0"_s);
}

// A key name must come back from "name=" as it went in and must not turn its line into a
// section line.
bool isWritableKey(const QString& name)
{
    return !name.isEmpty() && trimBlanks(QStringView(name)).size() == name.size() &&
           !name.startsWith(u'[') && !hasForbiddenChar(name, u"=\r\n\0"_s);
}

// A line break would split the line and the rest would turn into a key or section of its
// own; a value longer than a read returns would come back cut.
bool isWritableValue(const QString& value, const QByteArray& bytes)
{
    return !hasForbiddenChar(value, u"\r\n\0"_s) && bytes.size() <= TPrivateProfile::MaxValueBytes;
}

// Reading drops blanks and one pair of enclosing quotes; such a value is quoted so that a
// read gives back exactly what was written.
QByteArray quotedIfNeeded(const QByteArray& value)
{
    if (value.isEmpty())
        return value;
    const char first = value.front();
    const char last = value.back();
    const bool enclosed = value.size() >= 2 && (first == '"' || first == '\'') && last == first;
    if (isBlank(first) || isBlank(last) || enclosed)
        return '"' + value + '"';
    return value;
}

std::optional<int> toInteger(QStringView text)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    bool hex = false;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }
    if (i == n)
        return std::nullopt;

    if (hex) {
        std::uint32_t value = 0;
        for (; i < n; ++i) {
            const char16_t c = text[i].unicode();
            int digit;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            else
                return std::nullopt;
            if (value > 0x0FFFFFFFu) // a ninth significant digit
                return std::nullopt;
            value = value * 16 + std::uint32_t(digit);
        }
        // The digits are the 32-bit pattern; the sign applies to that pattern.
        return static_cast<int>(negative ? 0u - value : value);
    }

    std::int64_t value = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > std::int64_t(1) << 31)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return std::nullopt;
    return static_cast<int>(value);
}

} // namespace

TPrivateProfile::TPrivateProfile(QString fileName) : m_fileName(std::move(fileName)) {}

QString TPrivateProfile::ReadString(const QString& section, const QString& key,
                                    const QString& defaultValue) const
{
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly))
        return defaultValue;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return defaultValue;

    const Location loc = locate(data, section, key);
    if (loc.key < 0)
        return defaultValue;
    const Line& line = loc.lines[size_t(loc.key)];
    const qsizetype valueBegin = line.begin + loc.equals + 1;
    QByteArrayView value =
        trimBlanks(QByteArrayView(data).sliced(valueBegin, line.end - valueBegin));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.sliced(1, value.size() - 2);
    return decodeGbk(value.first(cutPoint(value, MaxValueBytes)));
}

int TPrivateProfile::ReadInteger(const QString& section, const QString& key, int defaultValue) const
{
    return toInteger(ReadString(section, key, QString())).value_or(defaultValue);
}

bool TPrivateProfile::ReadBool(const QString& section, const QString& key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TPrivateProfile::WriteString(const QString& section, const QString& key, const QString& value)
{
    const std::optional<QByteArray> sectionBytes = encodeGbk(section);
    const std::optional<QByteArray> keyBytes = encodeGbk(key);
    const std::optional<QByteArray> valueBytes = encodeGbk(value);
    if (!sectionBytes || !keyBytes || !valueBytes || !isWritableSection(section) ||
        !isWritableKey(key) || !isWritableValue(value, *valueBytes))
        ThrowWriteError();

    // Only a file that is not there counts as empty: one that cannot be read is never
    // overwritten, or its other lines would be lost.
    QByteArray data;
    if (QFile::exists(m_fileName)) {
        QFile file(m_fileName);
        if (!file.open(QIODevice::ReadOnly))
            ThrowWriteError();
        data = file.readAll();
        if (file.error() != QFileDevice::NoError)
            ThrowWriteError();
    }

    const QByteArray keyLine = *keyBytes + '=' + quotedIfNeeded(*valueBytes) + "\r\n"_ba;
    const Location loc = locate(data, section, key);
    QByteArray updated;
    if (loc.key >= 0) {
        const Line& line = loc.lines[size_t(loc.key)];
        updated = data.first(line.begin) + keyLine + data.sliced(line.next);
    } else if (loc.section >= 0) {
        const Line& after = loc.lines[size_t(loc.lastKey >= 0 ? loc.lastKey : loc.section)];
        updated =
            data.first(after.next) + missingBreak(data, after) + keyLine + data.sliced(after.next);
    } else {
        const QByteArray lineBreak =
            data.isEmpty() ? QByteArray() : missingBreak(data, loc.lines.back());
        updated = data + lineBreak + '[' + *sectionBytes + "]\r\n"_ba + keyLine;
    }

    // Written beside the file and renamed over it, so a crash leaves the old file or the new.
    QSaveFile out(m_fileName);
    if (!out.open(QIODevice::WriteOnly) || out.write(updated) != updated.size() || !out.commit())
        ThrowWriteError();
}

void TPrivateProfile::WriteInteger(const QString& section, const QString& key, int value)
{
    WriteString(section, key, QString::number(value));
}

void TPrivateProfile::WriteBool(const QString& section, const QString& key, bool value)
{
    WriteString(section, key, value ? u"1"_s : u"0"_s);
}

void TPrivateProfile::ThrowWriteError() const
{
    throw DoorlockError(u"Unable to write to "_s + m_fileName);
}
