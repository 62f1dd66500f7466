#include "ChildProcess.h"

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

TChildProcess::~TChildProcess()
{
    QByteArray ignored;
    Kill(ignored);
}

bool TChildProcess::Start(const QString& program, const QStringList& arguments, QString& error)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    std::vector<QByteArray> texts{program.toLocal8Bit()};
    for (const QString& argument : arguments)
        texts.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const int result = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (result != 0) {
        close(pipeFds[0]);
        m_pid = -1;
        error = program + u": "_s + QString::fromLocal8Bit(std::strerror(result));
        return false;
    }
    m_output = pipeFds[0];
    return true;
}

bool TChildProcess::Read(QByteArray& output, int timeoutMs)
{
    if (m_output < 0)
        return false;
    pollfd entry{m_output, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0)
        return false;
    char buffer[4096];
    const ssize_t count = read(m_output, buffer, sizeof buffer);
    if (count <= 0)
        return false;
    output.append(buffer, count);
    return true;
}

void TChildProcess::Kill(QByteArray& output)
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    if (m_output >= 0) {
        // The child is gone, so the pipe ends after what it had written.
        char buffer[4096];
        ssize_t count;
        while ((count = read(m_output, buffer, sizeof buffer)) > 0)
            output.append(buffer, count);
        close(m_output);
        m_output = -1;
    }
}
