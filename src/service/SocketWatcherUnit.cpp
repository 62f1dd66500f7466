#include "SocketWatcherUnit.h"

#include <QSocketNotifier>
#include <array>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>
#endif

#ifdef Q_OS_LINUX

namespace {
// Ready sockets taken per round; more wait for the next round, so one busy moment cannot starve
// the thread's other work (answers coming back, the listener).
constexpr int ReadyPerRound = 256;

std::uint32_t EventsFor(TSocketWatcher::TInterest interest)
{
    return interest == TSocketWatcher::TInterest::Write ? EPOLLOUT : EPOLLIN;
}
} // namespace

TSocketWatcher::TSocketWatcher(TReady ready) : m_ready(std::move(ready))
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll == -1)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_epoll, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [this] { ReportReady(); });
}

TSocketWatcher::~TSocketWatcher()
{
    m_notifier.reset();
    if (m_epoll != -1)
        ::close(m_epoll);
}

bool TSocketWatcher::Watch(qintptr socket, TInterest interest)
{
    if (m_epoll == -1)
        return interest == TInterest::None;
    const int fd = static_cast<int>(socket);
    const auto it = m_watched.find(socket);
    if (interest == TInterest::None) {
        if (it == m_watched.end())
            return true;
        m_watched.erase(it);
        return ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr) == 0;
    }
    epoll_event event{};
    event.events = EventsFor(interest);
    event.data.fd = fd;
    if (it == m_watched.end()) {
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0)
            return false;
        m_watched.emplace(socket, interest);
        return true;
    }
    if (it->second == interest)
        return true;
    it->second = interest;
    return ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event) == 0;
}

void TSocketWatcher::ReportReady()
{
    std::array<epoll_event, ReadyPerRound> events;
    int count;
    do {
        count = ::epoll_wait(m_epoll, events.data(), ReadyPerRound, 0);
    } while (count < 0 && errno == EINTR);
    for (int i = 0; i < count; ++i) {
        const qintptr socket = events[static_cast<std::size_t>(i)].data.fd;
        // An earlier report of this round may have ended the watch.
        if (m_watched.count(socket) != 0)
            m_ready(socket);
    }
}

#else

TSocketWatcher::TSocketWatcher(TReady ready) : m_ready(std::move(ready)) {}

TSocketWatcher::~TSocketWatcher() = default;

bool TSocketWatcher::Watch(qintptr socket, TInterest interest)
{
    if (const auto it = m_watched.find(socket); it != m_watched.end()) {
        // May be inside this notifier's own signal.
        it->second->setEnabled(false);
        it->second.release()->deleteLater();
        m_watched.erase(it);
    }
    if (interest == TInterest::None)
        return true;
    auto notifier = std::make_unique<QSocketNotifier>(
        socket, interest == TInterest::Write ? QSocketNotifier::Write : QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                     [this, socket] { m_ready(socket); });
    m_watched.emplace(socket, std::move(notifier));
    return true;
}

void TSocketWatcher::ReportReady() {}

#endif
