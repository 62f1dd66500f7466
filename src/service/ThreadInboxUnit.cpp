#include "ThreadInboxUnit.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

TThreadInbox::TThreadInbox()
{
#ifdef Q_OS_UNIX
    int ends[2] = {-1, -1};
    if (::pipe(ends) == 0) {
        for (const int end : ends) {
            ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
            ::fcntl(end, F_SETFD, FD_CLOEXEC);
        }
        m_wakeUpRead = ends[0];
        m_wakeUpWrite = ends[1];
        m_wakeUpNotifier = new QSocketNotifier(m_wakeUpRead, QSocketNotifier::Read, this);
        connect(m_wakeUpNotifier, &QSocketNotifier::activated, this, [this] {
            char drained[16];
            while (::read(m_wakeUpRead, drained, sizeof drained) > 0) {
            }
            RunCommands();
        });
    }
#endif
}

TThreadInbox::~TThreadInbox()
{
#ifdef Q_OS_UNIX
    delete m_wakeUpNotifier;
    if (m_wakeUpRead != -1)
        ::close(m_wakeUpRead);
    if (m_wakeUpWrite != -1)
        ::close(m_wakeUpWrite);
#endif
}

void TThreadInbox::Post(std::function<void()> command)
{
    std::lock_guard lock(m_mutex);
    m_commands.push_back(std::move(command));
    // One wake-up serves every command posted before it is taken.
    if (std::exchange(m_wakeUpPending, true))
        return;
#ifdef Q_OS_UNIX
    if (m_wakeUpWrite != -1) {
        const char byte = 1;
        // At most one byte is ever unread, so the pipe cannot be full.
        while (::write(m_wakeUpWrite, &byte, 1) < 0 && errno == EINTR) {
        }
        return;
    }
#endif
    QMetaObject::invokeMethod(this, "RunCommands", Qt::QueuedConnection);
}

void TThreadInbox::RunCommands()
{
    std::vector<std::function<void()>> commands;
    {
        std::lock_guard lock(m_mutex);
        commands.swap(m_commands);
        m_wakeUpPending = false;
    }
    for (const std::function<void()>& command : commands)
        command();
}
