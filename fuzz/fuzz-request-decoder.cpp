// The request body as it arrives on the wire: decoded by the interface's own lenient UTF-8
// decoder, then read as a document, as a connection does. Decoding never fails loudly, never
// lengthens the text, and whatever it yields goes back out and in again unchanged.
#include "RequestDecoderUnit.h"
#include "RequestDocumentChecks.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

using RequestDocumentChecks::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView body(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = DecodeRequest(body);
    Require(text.size() <= body.size());

    // Answers echo request texts (room numbers): what came in must go out as it came.
    const QByteArray encoded = EncodeResponse(text);
    Require(!encoded.isEmpty() && encoded.back() == '\0');
    Require(DecodeRequest(QByteArrayView(encoded).chopped(1)) == text);

    RequestDocumentChecks::ParseAndRead(text);
    return 0;
}
