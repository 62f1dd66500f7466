#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/types.h>

// A child program run for a test, started with posix_spawn: its standard input written at the
// start, its output collected without blocking, so the test's event loop can keep running.
// Not QProcess: Qt 6.4 starts children with a vfork-style clone that ThreadSanitizer's clone
// interceptor aborts on.
// Not thread-safe.
class TChildProcess
{
public:
    TChildProcess() = default;
    // Kills and reaps the child if it still runs.
    ~TChildProcess();

    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Set before Start. The input should be small: it is written at once, before the child
    // reads it. An output file takes both output streams in place of the pipes, for a child
    // that runs long and whose output the test reads only now and then.
    void SetInput(const QByteArray& input) { m_input = input; }
    void SetWorkingDirectory(const QString& dir) { m_workingDirectory = dir; }
    void SetOutputFile(const QString& path) { m_outputFile = path; }

    bool Start(const QString& program, const QStringList& arguments, QString& error);
    pid_t Pid() const { return m_pid; }

    // Collects the output that is ready; true once the child has ended and all of its output is
    // read, and for a child that never started.
    bool Poll();
    // Waits up to timeoutMs for more output; false when none came.
    bool WaitForOutput(int timeoutMs);
    // False when the child still runs after timeoutMs.
    bool WaitForEnd(int timeoutMs);
    // Sends the signal unless the child has ended.
    void Signal(int signal);
    // SIGKILL, then waits for the end and collects what the child wrote before it died.
    void Kill();

    bool ExitedNormally() const { return m_exited; }
    int ExitCode() const { return m_exitCode; }
    const QByteArray& Out() const { return m_out; }
    const QByteArray& Err() const { return m_err; }

private:
    void Ended(int status);
    void Drain();
    void CloseAll();

    QByteArray m_input;
    QString m_workingDirectory;
    QString m_outputFile;

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    bool m_ended = false;
    bool m_exited = false;
    int m_exitCode = -1;
    QByteArray m_out;
    QByteArray m_err;
};
