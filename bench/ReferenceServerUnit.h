#pragma once

#include "FileDescriptorUnit.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/socket.h>
#include <vector>

// The least a server can do for the door-lock protocol, the yardstick of this machine: accept,
// read to the NUL, write a fixed answer and a NUL, shut down the sending direction, close.
// One level-triggered epoll loop over non-blocking sockets on 127.0.0.1.
// Thread-safety: Run on one thread; Stop and the counters from any thread.
class TReferenceServer
{
public:
    // Longer bodies are refused as the door-lock interface refuses them: closed, no answer.
    static constexpr std::size_t MaxRequestBytes = 16384;

    // A successful ReadCard answer, the commonest answer of the interface.
    static std::string DefaultAnswer();

    // Binds 127.0.0.1:port (0: any free port) and listens; throws std::system_error.
    // With reusePort, several servers (one per thread) can share one port. The backlog is the
    // system's largest by default; the door-lock interface itself listens with 15.
    TReferenceServer(std::uint16_t port, std::string answer, bool reusePort = false,
                     int backlog = SOMAXCONN);

    std::uint16_t Port() const { return m_port; }

    // Serves until Stop is called, then closes every open connection.
    void Run();
    void Stop();

    std::uint64_t Answered() const { return m_answered.load(std::memory_order_relaxed); }
    // Connections closed without an answer: too long, peer gone early, socket errors.
    std::uint64_t Dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    struct TConnection
    {
        bool Open = false;
        bool Answering = false;
        std::size_t Received = 0;
        std::size_t Sent = 0;
    };

    void AcceptAll();
    void Watch(int fd);
    void OnReadable(int fd);
    void OnWritable(int fd);
    void Close(int fd, bool answered);

    std::string m_answer; // with the terminating NUL
    std::uint16_t m_port = 0;
    TFileDescriptor m_listener;
    TFileDescriptor m_epoll;
    TFileDescriptor m_wake;
    // Kept free so that a full descriptor table cannot wedge the accept loop.
    TFileDescriptor m_spare;
    std::vector<TConnection> m_connections; // by descriptor
    std::atomic<std::uint64_t> m_answered{0};
    std::atomic<std::uint64_t> m_dropped{0};
};
