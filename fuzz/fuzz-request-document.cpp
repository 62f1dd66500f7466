// The request reader takes whatever a hotel system (or anyone on the network) sends. Every
// input must either read as a document whose accessors all answer, or fail with DoorlockError.
#include "DoorlockError.h"
#include "RequestDocumentUnit.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

using namespace Qt::Literals::StringLiterals;

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void ReadEverything(const TRequestDocument& document, qsizetype textLength)
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
    // A position the root does not have is an error, never a read out of bounds.
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        const TRequestDocument document = TRequestDocument::Parse(text);
        ReadEverything(document, text.size());
    } catch (const DoorlockError&) {
        // Refused input; the interface answers nothing.
    }
    return 0;
}
