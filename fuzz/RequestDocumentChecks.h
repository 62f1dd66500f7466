#pragma once

#include "DoorlockError.h"
#include "RequestDocumentUnit.h"

#include <cstdlib>

// What every fuzz target that reads requests asks of a document: each accessor answers, within
// the bounds of the text it came from, and a position the root lacks is an error.
namespace RequestDocumentChecks {

inline void Require(bool condition)
{
    if (!condition)
        std::abort();
}

inline void ReadEverything(const TRequestDocument& document, qsizetype textLength)
{
    Require(document.RootName().size() <= textLength);
    for (const QStringView name : {u"type", u"TYPE", u"Type", u"", u"RequestID"})
        Require(document.RootAttribute(name).size() <= textLength);

    const qsizetype count = document.PositionCount();
    Require(count >= 0 && count <= textLength);
    for (qsizetype i = 0; i < count; ++i) {
        const auto kind = document.PositionKind(i);
        Require(kind >= TRequestDocument::TNodeKind::Element &&
                kind <= TRequestDocument::TNodeKind::Declaration);
        // References only ever shorten a text.
        Require(document.ElementText(i).size() <= textLength);
    }
    for (const qsizetype missing : {qsizetype(-1), count, count + 1}) {
        try {
            document.ElementText(missing);
            std::abort();
        } catch (const DoorlockError&) {
        }
        try {
            document.PositionKind(missing);
            std::abort();
        } catch (const DoorlockError&) {
        }
    }
}

// Parses the text as the request handler does; refused texts are fine.
inline void ParseAndRead(const QString& text)
{
    try {
        ReadEverything(TRequestDocument::Parse(text), text.size());
    } catch (const DoorlockError&) {
        // Refused input; the interface answers nothing.
    }
}

} // namespace RequestDocumentChecks
