#pragma once

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <string>

// Start-up time as a hotel system sees it: the first connect that a server accepts and the
// first answer, as wall-clock times (CLOCK_REALTIME nanoseconds, comparable with
// `date +%s%N` in a script that started the server). Thread-safe (no shared state).
struct TReadiness
{
    std::int64_t FirstConnectNs = 0;
    std::int64_t FirstAnswerNs = 0;
    std::uint64_t Attempts = 0;
};

namespace ReadinessProbe {

// Tries a round trip with the request every millisecond or so until one is answered; nothing
// when the timeout passes first.
std::optional<TReadiness> WaitForAnswer(const sockaddr_in& address, const std::string& request,
                                        std::chrono::milliseconds timeout);

} // namespace ReadinessProbe
