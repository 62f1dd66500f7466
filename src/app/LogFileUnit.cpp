#include "LogFileUnit.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

// Opens (creating it when missing), appends the bytes in one write and closes. Failures are
// the caller's to ignore. The POSIX calls spare QFile's extra status and seek calls, which
// would otherwise be most of an entry's cost.
void AppendToFile(const QString& path, const QByteArray& bytes)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } while (fd == -1 && errno == EINTR);
    if (fd == -1)
        return;
    // One write of the whole entry; a short write (disk full) loses only this entry.
    while (::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())) == -1 &&
           errno == EINTR) {
    }
    ::close(fd);
#else
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(bytes);
    file.close();
#endif
}

} // namespace

TLogFile::TLogFile(QString filePath, const TClock& clock)
    : m_filePath(std::move(filePath)), m_clock(clock), m_gbk("GBK")
{}

QString TLogFile::PathFor(const QString& programDir, const QDate& day)
{
    return programDir + day.toString(u"yyyyMMdd"_s) + u".LOG"_s;
}

void TLogFile::WriteLog(const QString& text)
{
    // The stamp is taken under the lock so that the file's order is the order of the stamps.
    std::lock_guard lock(m_mutex);
    const QString line =
        DateTime::FormatDateTime(u"yyyy-mm-dd hh:nn:ss"_s, m_clock.Now()) + u' ' + text + u"\r\n"_s;
    m_gbk.resetState(); // an unpaired surrogate must not carry into the next entry
    AppendToFile(m_filePath, m_gbk.encode(line));
}
