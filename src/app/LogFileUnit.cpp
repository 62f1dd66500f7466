#include "LogFileUnit.h"

#include <QFile>
#include <QStringEncoder>

using namespace Qt::Literals::StringLiterals;

TLogFile::TLogFile(QString filePath, const TClock& clock)
    : m_filePath(std::move(filePath)), m_clock(clock)
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
    QStringEncoder gbk("GBK");
    const QByteArray bytes = gbk.encode(line);

    QFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    // One write of the whole entry; a short write (disk full) loses only this entry.
    file.write(bytes);
    file.close();
}
