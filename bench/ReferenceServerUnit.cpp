#include "ReferenceServerUnit.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>

namespace {

[[noreturn]] void ThrowSystemError(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

std::string TReferenceServer::DefaultAnswer()
{
    return "<DoorResponse><RequestID></RequestID><ResultCode>200</ResultCode>"
           "<ResultMessage>\xE8\xAF\xBB\xE5\x8D\xA1\xE6\x88\x90\xE5\x8A\x9F</ResultMessage>"
           "<CardNo>2030030712000801</CardNo></DoorResponse>";
}

TReferenceServer::TReferenceServer(std::uint16_t port, std::string answer, bool reusePort,
                                   int backlog)
    : m_answer(std::move(answer))
{
    m_answer.push_back('\0');

    m_listener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!m_listener.IsOpen())
        ThrowSystemError("socket");
    const int on = 1;
    if (reusePort && ::setsockopt(m_listener.Get(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0)
        ThrowSystemError("SO_REUSEPORT");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(m_listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        ThrowSystemError("bind");
    if (::listen(m_listener.Get(), backlog) != 0)
        ThrowSystemError("listen");
    socklen_t length = sizeof address;
    if (::getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        ThrowSystemError("getsockname");
    m_port = ntohs(address.sin_port);

    m_epoll.Reset(::epoll_create1(EPOLL_CLOEXEC));
    m_wake.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    m_spare.Reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!m_epoll.IsOpen() || !m_wake.IsOpen() || !m_spare.IsOpen())
        ThrowSystemError("epoll/eventfd");
    for (const int fd : {m_listener.Get(), m_wake.Get()}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (::epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, fd, &event) != 0)
            ThrowSystemError("epoll_ctl");
    }
}

void TReferenceServer::Stop()
{
    const std::uint64_t one = 1;
    // Only fails when the counter would overflow, and then a wake-up is pending anyway.
    [[maybe_unused]] const auto written = ::write(m_wake.Get(), &one, sizeof one);
}

void TReferenceServer::Run()
{
    epoll_event events[256];
    for (;;) {
        const int count = ::epoll_wait(m_epoll.Get(), events, 256, -1);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            ThrowSystemError("epoll_wait");
        }
        for (int i = 0; i < count; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_wake.Get()) {
                for (std::size_t c = 0; c < m_connections.size(); ++c) {
                    if (m_connections[c].Open)
                        Close(static_cast<int>(c), false);
                }
                return;
            }
            if (fd == m_listener.Get()) {
                AcceptAll();
                continue;
            }
            // An event may be stale: its descriptor closed, perhaps reused, earlier in the batch.
            const TConnection& connection = m_connections[static_cast<std::size_t>(fd)];
            if (!connection.Open)
                continue;
            if (connection.Answering)
                OnWritable(fd);
            else
                OnReadable(fd);
        }
    }
}

void TReferenceServer::AcceptAll()
{
    for (;;) {
        const int fd = ::accept4(m_listener.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            Watch(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EMFILE || errno == ENFILE) {
            // Take the waiting connection with the spare descriptor and refuse it, or the
            // level-triggered listener would report it for ever.
            m_spare.Reset();
            TFileDescriptor refused(::accept(m_listener.Get(), nullptr, nullptr));
            m_spare.Reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            if (refused.IsOpen())
                m_dropped.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        return; // EAGAIN, or an error that the next readiness report will show again
    }
}

void TReferenceServer::Watch(int fd)
{
    if (static_cast<std::size_t>(fd) >= m_connections.size())
        m_connections.resize(static_cast<std::size_t>(fd) + 1024);
    m_connections[static_cast<std::size_t>(fd)] = TConnection{true, false, 0, 0};
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (::epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, fd, &event) != 0)
        Close(fd, false);
}

void TReferenceServer::OnReadable(int fd)
{
    TConnection& connection = m_connections[static_cast<std::size_t>(fd)];
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            const void* nul = std::memchr(buffer, 0, static_cast<std::size_t>(n));
            const std::size_t body =
                nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer)
                    : static_cast<std::size_t>(n);
            connection.Received += body;
            if (connection.Received > MaxRequestBytes) {
                Close(fd, false);
                return;
            }
            if (nul) {
                connection.Answering = true;
                OnWritable(fd);
                return;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        Close(fd, false); // the peer closed before the terminator, or the socket failed
        return;
    }
}

void TReferenceServer::OnWritable(int fd)
{
    TConnection& connection = m_connections[static_cast<std::size_t>(fd)];
    while (connection.Sent < m_answer.size()) {
        const ssize_t n = ::send(fd, m_answer.data() + connection.Sent,
                                 m_answer.size() - connection.Sent, MSG_NOSIGNAL);
        if (n > 0) {
            connection.Sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            epoll_event event{};
            event.events = EPOLLOUT;
            event.data.fd = fd;
            if (::epoll_ctl(m_epoll.Get(), EPOLL_CTL_MOD, fd, &event) != 0)
                Close(fd, false);
            return;
        }
        Close(fd, false);
        return;
    }
    ::shutdown(fd, SHUT_WR);
    Close(fd, true);
}

void TReferenceServer::Close(int fd, bool answered)
{
    m_connections[static_cast<std::size_t>(fd)] = TConnection{};
    ::close(fd); // also takes it out of the epoll set
    (answered ? m_answered : m_dropped).fetch_add(1, std::memory_order_relaxed);
}
