#include "CardWR.h"
#include "EncoderSimulator.h"

// Only the three functions of the lock maker's library leave this library.
#if defined(_WIN32)
#define CARDWR_EXPORT __declspec(dllexport)
#else
#define CARDWR_EXPORT __attribute__((visibility("default")))
#endif

namespace {

EncoderSimulator& Encoder()
{
    // One encoder per process, created on first use so no call can see it half-built.
    static EncoderSimulator encoder;
    return encoder;
}

} // namespace

extern "C" {

CARDWR_EXPORT int W_Card(const char* port, const char* roomNo, const char* zeros,
                         const char* endStamp, const char* a5, const char* a6, const char* a7,
                         const char* code, const char* kind)
{
    return Encoder().WriteCard({port, roomNo, zeros, endStamp, a5, a6, a7, code, kind});
}

CARDWR_EXPORT int R_Card(const char* port)
{
    return Encoder().ReadCard(port);
}

CARDWR_EXPORT int L_Card(const char* port)
{
    return Encoder().EraseCard(port);
}

} // extern "C"
