#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>
#include <unordered_map>

class QSocketNotifier;

// Tells the network thread when a connection socket is ready to be read or written, through its
// Qt event loop. On Linux all sockets share one epoll set behind a single notifier, so a round of
// the event loop costs the same whether ten or ten thousand connections sit idle; elsewhere each
// watched socket has a notifier of its own.
//
// Readiness is a hint: the owner tries the operation and takes "would block" in its stride (a
// report may also come for a socket number closed and reused in the same round). Errors and
// hang-ups are reported as readiness, so the owner learns of them by trying.
//
// Not thread-safe: create, use and destroy it on one thread that runs a Qt event loop.
class TSocketWatcher
{
public:
    enum class TInterest
    {
        None,
        Read,
        Write,
    };
    using TReady = std::function<void(qintptr socket)>;

    explicit TSocketWatcher(TReady ready);
    ~TSocketWatcher();

    TSocketWatcher(const TSocketWatcher&) = delete;
    TSocketWatcher& operator=(const TSocketWatcher&) = delete;

    // Starts, changes or (None) ends the watch on one socket. A socket must be unwatched before
    // it is closed. Returns false when the socket cannot be watched (the owner should close it).
    bool Watch(qintptr socket, TInterest interest);

private:
    void ReportReady();

    const TReady m_ready;
#ifdef Q_OS_LINUX
    int m_epoll = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::unordered_map<qintptr, TInterest> m_watched;
#else
    std::unordered_map<qintptr, std::unique_ptr<QSocketNotifier>> m_watched;
#endif
};
