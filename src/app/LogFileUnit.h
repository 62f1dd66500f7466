#pragma once

#include "DateTimeUnit.h"

#include <QDate>
#include <QString>
#include <QStringEncoder>
#include <mutex>

// The operation log: one GBK text file per run, named after the start day. Every entry is one
// open-append-close, so whatever was written survives a crash. Thread-safe: entries from
// concurrent writers stay whole and in the order in which they were stamped.
class TLogFile
{
public:
    explicit TLogFile(QString filePath, const TClock& clock = TClock::System());

    // <dir>/yyyymmdd.LOG for the given day; dir must end with a separator.
    static QString PathFor(const QString& programDir, const QDate& day);

    const QString& FilePath() const { return m_filePath; }

    // Never fails for a file error: the entry is dropped instead.
    void WriteLog(const QString& text);

private:
    const QString m_filePath;
    const TClock& m_clock;
    std::mutex m_mutex;
    QStringEncoder m_gbk; // guarded by m_mutex
};
