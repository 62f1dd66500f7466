#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <vector>

class QSocketNotifier;

// Runs commands posted from any thread on the thread that created this object, in posting order.
// Commands travel through a std::mutex-guarded list. On Unix the wake-up is one byte through a
// pipe watched by the owning thread's event loop, so no Qt object is shared between threads and
// ThreadSanitizer sees every hand-over (Qt's own cross-thread event queue is invisible to it);
// elsewhere a queued call carries the wake-up. Thread-safe: Post may be called from any thread
// until the object is destroyed; create and destroy it on its own thread.
class TThreadInbox : public QObject
{
    Q_OBJECT

public:
    TThreadInbox();
    ~TThreadInbox() override;

    // The command must not throw.
    void Post(std::function<void()> command);

private:
    Q_INVOKABLE void RunCommands();

    std::mutex m_mutex;
    std::vector<std::function<void()>> m_commands; // guarded by m_mutex
    bool m_wakeUpPending = false;                  // guarded by m_mutex

#ifdef Q_OS_UNIX
    int m_wakeUpRead = -1;
    int m_wakeUpWrite = -1;
    QSocketNotifier* m_wakeUpNotifier = nullptr;
#endif
};
