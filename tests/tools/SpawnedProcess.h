#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/types.h>

// A child program run for a test: started with posix_spawn, its standard input written at the
// start, its output collected by polling, so the test's event loop keeps running meanwhile.
// Not QProcess: Qt 6.4 starts children with a vfork-style clone that ThreadSanitizer's clone
// interceptor aborts on.
// Not thread-safe.
class TSpawnedProcess
{
public:
    TSpawnedProcess() = default;
    // Kills and reaps the child if it still runs.
    ~TSpawnedProcess();

    TSpawnedProcess(const TSpawnedProcess&) = delete;
    TSpawnedProcess& operator=(const TSpawnedProcess&) = delete;

    // The input should be small (it is written at once, before the child reads it).
    bool Start(const QString& program, const QStringList& arguments, const QByteArray& input,
               QString& error);
    // Collects the output that is ready; true once the child has ended and all of it is read.
    bool Poll();

    bool ExitedNormally() const { return m_exited; }
    int ExitCode() const { return m_exitCode; }
    const QByteArray& Out() const { return m_out; }
    const QByteArray& Err() const { return m_err; }

private:
    void Drain();
    void CloseAll();

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    bool m_ended = false;
    bool m_exited = false;
    int m_exitCode = -1;
    QByteArray m_out;
    QByteArray m_err;
};
