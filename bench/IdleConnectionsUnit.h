#pragma once

#include "FileDescriptorUnit.h"

#include <chrono>
#include <cstddef>
#include <netinet/in.h>
#include <vector>

// Connections that are opened and then left silent, as idle or forgotten clients leave them,
// to see what holding them costs a server. Not thread-safe.
class TIdleConnections
{
public:
    // Opens count connections, at most inFlight still connecting at once and, with a rate,
    // at most that many connects started per second; a connect that has not completed within
    // timeout counts as failed. Returns once every attempt has ended.
    // A server with a short listen backlog needs a rate it can accept at: the kernel drops
    // the handshakes of a burst that overflows the backlog, and the client cannot tell.
    void Open(const sockaddr_in& address, std::size_t count, std::chrono::milliseconds timeout,
              std::size_t inFlight = 256, double ratePerSecond = 0);

    std::size_t Held() const { return m_held.size(); }
    std::size_t Failed() const { return m_failed; }
    // Held connections that the server has closed since (looked at without reading).
    std::size_t ClosedByPeer() const;
    void CloseAll();

private:
    std::vector<TFileDescriptor> m_held;
    std::size_t m_failed = 0;
};
