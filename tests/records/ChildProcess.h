#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/types.h>

// A child process whose standard output the test reads, started with posix_spawn rather than
// QProcess: ThreadSanitizer's clone interceptor aborts on the way QProcess starts children.
// Not thread-safe.
class TChildProcess
{
public:
    TChildProcess() = default;
    // Kills the child if it still runs.
    ~TChildProcess();

    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    bool Start(const QString& program, const QStringList& arguments, QString& error);
    // Appends what the child writes within timeoutMs; false when nothing came.
    bool Read(QByteArray& output, int timeoutMs);
    // SIGKILL, then waits for the child; appends what it wrote before it died.
    void Kill(QByteArray& output);

private:
    pid_t m_pid = -1;
    int m_output = -1;
};
