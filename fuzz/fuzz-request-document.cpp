// The request reader takes whatever a hotel system (or anyone on the network) sends. Every
// input must either read as a document whose accessors all answer, or fail with DoorlockError.
#include "RequestDocumentChecks.h"

#include <QString>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    RequestDocumentChecks::ParseAndRead(
        QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
