#include "ProgramInstance.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTcpServer>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

using namespace Qt::Literals::StringLiterals;

namespace {

int elapsedSince(std::chrono::steady_clock::time_point start)
{
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
                   .count());
}

} // namespace

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::AnyIPv4);
    return probe.serverPort();
}

TProgramInstance::TProgramInstance()
{
    const QDir bin(qEnvironmentVariable("DOORLOCK_BIN_DIR"));
    for (const QString& name : {u"VeltraKandorDoorlock"_s, u"libCardWR.so"_s, u"Client.db"_s}) {
        QFile::copy(bin.filePath(name), m_dir.filePath(name));
        QFile(m_dir.filePath(name))
            .setPermissions(QFile(bin.filePath(name)).permissions() | QFile::WriteOwner);
    }
}

void TProgramInstance::WriteFile(const QString& name, const QByteArray& bytes) const
{
    QFile file(m_dir.filePath(name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QByteArray TProgramInstance::ReadFile(const QString& name) const
{
    QFile file(m_dir.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TProgramInstance::WriteOptions(const QString& lines)
{
    QString text = lines;
    if (!text.contains(u"DoorlockPortNo"_s, Qt::CaseInsensitive))
        text += u"\r\n[SysOption]\r\nDoorlockPortNo="_s + QString::number(FreePort()) + u"\r\n"_s;
    WriteFile(u"Option.ini"_s, QStringEncoder("GBK").encode(text));
}

bool TProgramInstance::Start(int timeoutMs)
{
    if (!QFile::exists(m_dir.filePath(u"Option.ini"_s)))
        WriteOptions(QString());

    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    m_process.SetWorkingDirectory(m_dir.path());
    m_process.SetOutputFile(m_dir.filePath(u"stdout.txt"_s));
    QString error;
    if (!m_process.Start(m_dir.filePath(u"VeltraKandorDoorlock"_s), {}, error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }

    static const QRegularExpression listening(u"Listening for door requests on port (\\d+)"_s);
    const auto start = std::chrono::steady_clock::now();
    while (elapsedSince(start) < timeoutMs) {
        const auto match = listening.match(StdOut());
        if (match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            return true;
        }
        if (!Running())
            return false;
        QThread::msleep(20);
    }
    return false;
}

bool TProgramInstance::Running()
{
    return m_process.Pid() > 0 && !m_process.Poll();
}

int TProgramInstance::WaitForExit(int timeoutMs)
{
    if (!m_process.WaitForEnd(timeoutMs) || !m_process.ExitedNormally())
        return -1;
    return m_process.ExitCode();
}

int TProgramInstance::Terminate(int timeoutMs)
{
    m_process.Signal(SIGTERM);
    return WaitForExit(timeoutMs);
}

TProgramInstance::TAnswer TProgramInstance::Request(const QByteArray& body, bool terminate,
                                                    int timeoutMs, qsizetype chunk) const
{
    TAnswer answer;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return answer;
    }
    QByteArray bytes = body;
    if (terminate)
        bytes.append('\0');
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const qsizetype piece =
            chunk > 0 ? std::min(chunk, bytes.size() - sent) : bytes.size() - sent;
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(piece), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
        if (chunk > 0)
            QThread::usleep(200); // let the pieces arrive as separate reads
    }
    const auto start = std::chrono::steady_clock::now();
    QByteArray received;
    for (;;) {
        pollfd waiting{fd, POLLIN, 0};
        const int left = timeoutMs - elapsedSince(start);
        if (left <= 0 || ::poll(&waiting, 1, left) <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            answer.ClosedByPeer = true;
            break;
        }
        received.append(buffer, n);
        if (const qsizetype end = received.indexOf('\0'); end >= 0) {
            answer.Answered = true;
            answer.Body = received.left(end);
            break;
        }
    }
    if (!answer.Answered)
        answer.Body = received;
    ::close(fd);
    return answer;
}

QString TProgramInstance::Log() const
{
    QString text;
    const QStringList logs = QDir(m_dir.path()).entryList({u"*.LOG"_s}, QDir::Files, QDir::Name);
    for (const QString& name : logs)
        text += QStringDecoder("GBK").decode(ReadFile(name));
    return text;
}

QString TProgramInstance::StdOut() const
{
    return QString::fromUtf8(ReadFile(u"stdout.txt"_s));
}

QStringList TProgramInstance::Journal() const
{
    QStringList lines = QString::fromUtf8(ReadFile(u"CardWR.journal"_s)).split(u'\n');
    for (QString& line : lines)
        if (line.endsWith(u'\r'))
            line.chop(1);
    lines.removeAll(QString());
    return lines;
}
