#include "RequestDecoderUnit.h"

namespace {

bool IsContinuation(uchar byte)
{
    return (byte & 0xC0) == 0x80;
}

bool IsFourByteLead(uchar byte)
{
    return byte >= 0xF0 && byte <= 0xF7;
}

} // namespace

QString DecodeRequest(QByteArrayView body)
{
    QString text;
    text.reserve(body.size());
    const qsizetype size = body.size();
    qsizetype i = 0;
    while (i < size) {
        const auto lead = static_cast<uchar>(body[i]);
        if (lead < 0x80) {
            text.append(QLatin1Char(char(lead)));
            ++i;
            continue;
        }

        if (IsFourByteLead(lead)) {
            if (size - i < 4)
                return {};
            char32_t codePoint = lead & 0x07;
            for (qsizetype k = 1; k <= 3; ++k) {
                const auto next = static_cast<uchar>(body[i + k]);
                if (!IsContinuation(next))
                    return {};
                codePoint = (codePoint << 6) | (next & 0x3F);
            }
            // Overlong forms and values past the last plane are not characters.
            if (codePoint < 0x10000 || codePoint > 0x10FFFF)
                return {};
            text.append(QChar(QChar::highSurrogate(codePoint)));
            text.append(QChar(QChar::lowSurrogate(codePoint)));
            i += 4;
            continue;
        }

        const qsizetype continuations = (lead & 0x20) ? 2 : 1;
        if (size - i <= continuations)
            return {};
        char32_t value = lead & 0x3F;
        for (qsizetype k = 1; k <= continuations; ++k) {
            const auto next = static_cast<uchar>(body[i + k]);
            if (!IsContinuation(next))
                return {};
            value = (value << 6) | (next & 0x3F);
        }
        // Bits above the sixteenth fall away, as peers have always seen it.
        text.append(QChar(static_cast<char16_t>(value & 0xFFFF)));
        i += 1 + continuations;
    }
    return text;
}

QByteArray EncodeResponse(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size() * 3 + 1);
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = text[i].unicode();
        if (unit < 0x80) {
            bytes.append(static_cast<char>(unit));
        } else if (unit < 0x800) {
            bytes.append(static_cast<char>(0xC0 | (unit >> 6)));
            bytes.append(static_cast<char>(0x80 | (unit & 0x3F)));
        } else if (QChar::isHighSurrogate(unit) && i + 1 < size &&
                   QChar::isLowSurrogate(text[i + 1].unicode())) {
            const char32_t codePoint = QChar::surrogateToUcs4(unit, text[i + 1].unicode());
            bytes.append(static_cast<char>(0xF0 | (codePoint >> 18)));
            bytes.append(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
            bytes.append(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
            bytes.append(static_cast<char>(0x80 | (codePoint & 0x3F)));
            ++i;
        } else {
            bytes.append(static_cast<char>(0xE0 | (unit >> 12)));
            bytes.append(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            bytes.append(static_cast<char>(0x80 | (unit & 0x3F)));
        }
    }
    bytes.append('\0');
    return bytes;
}
