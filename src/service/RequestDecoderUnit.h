#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The text codings of the door-lock wire: requests arrive as UTF-8, answers leave as UTF-8 followed
// by the message terminator. Both functions are pure and thread-safe.

// Decodes a request body. Peers rely on the decoder's leniency (a lead byte says only whether one
// or two continuation bytes follow, the character keeps its low 16 bits, a byte order mark stays
// as U+FEFF), but a broken or cut-off sequence empties the whole text rather than guessing.
// Well-formed four-byte sequences become their character (a surrogate pair).
QString DecodeRequest(QByteArrayView body);

// UTF-8 bytes of the text plus one 0x00. A surrogate pair becomes one four-byte sequence; a lone
// surrogate is written as its own three bytes so that text taken from a request goes back
// unchanged.
QByteArray EncodeResponse(const QString& text);
