#pragma once

#include "DateTimeUnit.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <optional>

// Texts the encoder driver exchanges with the CardWR library, and the card number formed from
// them. Stateless; safe from any thread.
namespace CardData {

// Cuts at every separator; pieces are kept as they are, empty ones included. An empty text
// gives an empty list.
QStringList SplitText(const QString& text, QChar separator);

// The first line of a GBK text file, up to the first CR or LF (an empty file gives an empty
// line). Throws DoorlockError when the file cannot be opened or read.
QString ReadFirstLine(const QString& fileName);

// "yyyymmddhhnn": the calendar date of endDate and the clock time of endTime.
QString EndStamp(TDateTime endDate, TDateTime endTime);

// The card number: end stamp followed by the room number, as a 64-bit decimal. Empty when the
// room number is not all ASCII digits (empty is fine) or the number does not fit.
std::optional<std::int64_t> CardNumber(QStringView endStamp, QStringView roomNo);

// The card number from a line of R_card.txt: field 0 the room number, field 2 the card end
// as a date-time text. Throws DoorlockError for fewer than three fields, an unreadable
// date-time or a number that cannot be formed.
std::int64_t CardNumberFromLine(const QString& line);

} // namespace CardData
