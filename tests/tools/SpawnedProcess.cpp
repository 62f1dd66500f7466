#include "SpawnedProcess.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace Qt::Literals::StringLiterals;

namespace {

QString SystemError(const char* what, int code)
{
    return QString::fromLatin1(what) + u": "_s + QString::fromLocal8Bit(std::strerror(code));
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

} // namespace

TSpawnedProcess::~TSpawnedProcess()
{
    if (m_pid > 0 && !m_ended) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    CloseAll();
}

bool TSpawnedProcess::Start(const QString& program, const QStringList& arguments,
                            const QByteArray& input, QString& error)
{
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        error = SystemError("pipe", errno);
        for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1]})
            CloseFd(*fd);
        return false;
    }

    std::vector<QByteArray> encoded;
    encoded.push_back(QFile::encodeName(program));
    for (const QString& argument : arguments)
        encoded.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
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
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
    if (result != 0) {
        m_pid = -1;
        ::close(in[1]);
        CloseAll();
        error = SystemError("posix_spawn", result);
        return false;
    }

    // A child that exits without reading its input must not kill the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    for (qsizetype written = 0; written < input.size();) {
        const ssize_t n =
            ::write(in[1], input.constData() + written, size_t(input.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        written += n;
    }
    ::close(in[1]);

    ::fcntl(m_outFd, F_SETFL, ::fcntl(m_outFd, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_errFd, F_SETFL, ::fcntl(m_errFd, F_GETFL) | O_NONBLOCK);
    return true;
}

bool TSpawnedProcess::Poll()
{
    if (m_ended || m_pid <= 0)
        return m_ended;
    Drain();
    int status = 0;
    const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
    if (done != m_pid)
        return false;
    m_ended = true;
    m_exited = WIFEXITED(status);
    m_exitCode = m_exited ? WEXITSTATUS(status) : -1;
    // The child has gone, so its pipes reach their end at once.
    ::fcntl(m_outFd, F_SETFL, ::fcntl(m_outFd, F_GETFL) & ~O_NONBLOCK);
    ::fcntl(m_errFd, F_SETFL, ::fcntl(m_errFd, F_GETFL) & ~O_NONBLOCK);
    Drain();
    CloseAll();
    return true;
}

void TSpawnedProcess::Drain()
{
    if (m_outFd >= 0 && !ReadReady(m_outFd, m_out))
        CloseFd(m_outFd);
    if (m_errFd >= 0 && !ReadReady(m_errFd, m_err))
        CloseFd(m_errFd);
}

void TSpawnedProcess::CloseAll()
{
    CloseFd(m_outFd);
    CloseFd(m_errFd);
}
