#include "IdleConnectionsUnit.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

struct TPending
{
    TFileDescriptor Fd;
    Clock::time_point Deadline;
};

} // namespace

void TIdleConnections::Open(const sockaddr_in& address, std::size_t count,
                            std::chrono::milliseconds timeout, std::size_t inFlight,
                            double ratePerSecond)
{
    TFileDescriptor epoll(::epoll_create1(EPOLL_CLOEXEC));
    if (!epoll.IsOpen())
        throw std::system_error(errno, std::generic_category(), "epoll_create1");
    m_held.reserve(m_held.size() + count);

    // Slots of connects in progress, keyed by index in the epoll set.
    std::vector<TPending> pending(std::max<std::size_t>(inFlight, 1));
    std::vector<std::size_t> free;
    for (std::size_t i = pending.size(); i > 0; --i)
        free.push_back(i - 1);
    std::size_t started = 0;
    const auto begin = Clock::now();
    // When connect number n may start at the given rate.
    const auto due = [&](std::size_t n) {
        return begin + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(double(n) / ratePerSecond));
    };

    const auto finish = [&](std::size_t slot, bool connected) {
        TPending& entry = pending[slot];
        if (connected) {
            ::epoll_ctl(epoll.Get(), EPOLL_CTL_DEL, entry.Fd.Get(), nullptr);
            m_held.push_back(std::move(entry.Fd));
        } else {
            entry.Fd.Reset();
            ++m_failed;
        }
        free.push_back(slot);
    };

    while (started < count || free.size() < pending.size()) {
        while (started < count && !free.empty()) {
            if (ratePerSecond > 0 && Clock::now() < due(started))
                break;
            const std::size_t slot = free.back();
            free.pop_back();
            ++started;
            TPending& entry = pending[slot];
            entry.Fd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            entry.Deadline = Clock::now() + timeout;
            if (!entry.Fd.IsOpen()) {
                finish(slot, false);
                continue;
            }
            const int rc = ::connect(entry.Fd.Get(), reinterpret_cast<const sockaddr*>(&address),
                                     sizeof address);
            if (rc == 0) {
                m_held.push_back(std::move(entry.Fd));
                free.push_back(slot);
                continue;
            }
            epoll_event event{};
            event.events = EPOLLOUT;
            event.data.u64 = slot;
            if (errno != EINPROGRESS ||
                ::epoll_ctl(epoll.Get(), EPOLL_CTL_ADD, entry.Fd.Get(), &event) != 0)
                finish(slot, false);
        }

        epoll_event events[256];
        const int n = ::epoll_wait(epoll.Get(), events, 256, ratePerSecond > 0 ? 1 : 10);
        for (int i = 0; i < n; ++i) {
            const auto slot = static_cast<std::size_t>(events[i].data.u64);
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(pending[slot].Fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
            finish(slot, error == 0);
        }
        const auto now = Clock::now();
        for (std::size_t slot = 0; slot < pending.size(); ++slot) {
            if (pending[slot].Fd.IsOpen() && now >= pending[slot].Deadline)
                finish(slot, false);
        }
    }
}

std::size_t TIdleConnections::ClosedByPeer() const
{
    std::size_t closed = 0;
    for (const TFileDescriptor& fd : m_held) {
        char byte;
        const ssize_t n = ::recv(fd.Get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
            ++closed;
    }
    return closed;
}

void TIdleConnections::CloseAll()
{
    m_held.clear();
}
