#include "ChildProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace Qt::Literals::StringLiterals;

namespace {

QString SystemError(const QString& what, int code)
{
    return what + u": "_s + QString::fromLocal8Bit(std::strerror(code));
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Appends what can be read now; false once the other end is closed.
bool ReadReady(int fd, QByteArray& into)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, qsizetype(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN;
    }
}

void WriteAll(int fd, const QByteArray& bytes)
{
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        written += n;
    }
}

} // namespace

TChildProcess::~TChildProcess()
{
    Kill();
}

bool TChildProcess::Start(const QString& program, const QStringList& arguments, QString& error)
{
    const bool toFile = !m_outputFile.isEmpty();
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 ||
        (!toFile && (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0))) {
        error = SystemError(u"pipe"_s, errno);
        for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1]})
            CloseFd(*fd);
        return false;
    }

    std::vector<QByteArray> encoded{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        encoded.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray workingDirectory = QFile::encodeName(m_workingDirectory);
    const QByteArray outputFile = QFile::encodeName(m_outputFile);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    if (toFile) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.constData(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    }
    if (!m_workingDirectory.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.constData());
    // This process ignores SIGPIPE (below); the child gets the usual behaviour back.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    const int result =
        ::posix_spawn(&m_pid, argv.front(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    CloseFd(in[0]);
    CloseFd(out[1]);
    CloseFd(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
    if (result != 0) {
        m_pid = -1;
        CloseFd(in[1]);
        CloseAll();
        error = SystemError(program, result);
        return false;
    }

    // A child that exits without reading its input must not kill the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    WriteAll(in[1], m_input);
    CloseFd(in[1]);

    for (const int fd : {m_outFd, m_errFd})
        if (fd >= 0)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return true;
}

bool TChildProcess::Poll()
{
    if (m_ended || m_pid <= 0)
        return true;
    Drain();
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) != m_pid)
        return false;
    Ended(status);
    return true;
}

bool TChildProcess::WaitForOutput(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    const qsizetype before = m_out.size() + m_err.size();
    for (;;) {
        pollfd waiting[2];
        nfds_t count = 0;
        for (const int fd : {m_outFd, m_errFd})
            if (fd >= 0)
                waiting[count++] = pollfd{fd, POLLIN, 0};
        if (count == 0)
            return false;
        const int ready = ::poll(waiting, count, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        // One stream may have reached its end while the other still has more to come.
        Drain();
        if (m_out.size() + m_err.size() > before)
            return true;
    }
}

bool TChildProcess::WaitForEnd(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!Poll()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

void TChildProcess::Signal(int signal)
{
    if (m_pid > 0 && !m_ended)
        ::kill(m_pid, signal);
}

void TChildProcess::Kill()
{
    if (m_pid > 0 && !m_ended) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        Ended(status);
    }
    CloseAll();
}

void TChildProcess::Ended(int status)
{
    m_ended = true;
    m_exited = WIFEXITED(status);
    m_exitCode = m_exited ? WEXITSTATUS(status) : -1;
    // Everything the child wrote is in the pipes now, so what is ready is all of it.
    Drain();
    CloseAll();
}

void TChildProcess::Drain()
{
    if (m_outFd >= 0 && !ReadReady(m_outFd, m_out))
        CloseFd(m_outFd);
    if (m_errFd >= 0 && !ReadReady(m_errFd, m_err))
        CloseFd(m_errFd);
}

void TChildProcess::CloseAll()
{
    CloseFd(m_outFd);
    CloseFd(m_errFd);
}
