#include "RecordTestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

using namespace Qt::Literals::StringLiterals;

namespace RecordTest {

QString RecordsSourceFile(const QString& name)
{
    return qEnvironmentVariable("DOORLOCK_SOURCE_DIR") + u"/src/records/"_s + name;
}

QStringList LogEntries(const QString& logPath)
{
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringDecoder gbk("GBK");
    const QString text = gbk.decode(file.readAll());
    static const QRegularExpression stamp(u"^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "_s);
    QStringList entries;
    for (const QString& line : text.split(u"\r\n"_s, Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = stamp.match(line);
        // A line without a stamp would be a broken entry; keep it whole so a test sees it.
        entries << (match.hasMatch() ? line.mid(match.capturedLength()) : u"!"_s + line);
    }
    return entries;
}

TPostgresConfig PostgresConfig()
{
    TPostgresConfig config;
    config.ConnInfo = qEnvironmentVariable("DOORLOCK_TEST_PG");
    const QString fileName = qEnvironmentVariable("DOORLOCK_TEST_PG_FILE");
    config.Configured = !config.ConnInfo.isEmpty() || !fileName.isEmpty();
    if (config.ConnInfo.isEmpty() && !fileName.isEmpty()) {
        QFile file(fileName);
        if (file.open(QIODevice::ReadOnly))
            config.ConnInfo = QString::fromUtf8(file.readAll()).trimmed();
        else
            config.Error = fileName + u": "_s + file.errorString() +
                           u" (the postgres_start fixture did not run or failed)"_s;
    }
    return config;
}

TDatabaseSettings PostgresSettings(const QString& connInfo)
{
    TDatabaseSettings settings;
    settings.Driver = u"QPSQL"_s;
    static const QRegularExpression separators(u"[\\s;]+"_s);
    for (const QString& pair : connInfo.split(separators, Qt::SkipEmptyParts)) {
        const QString key = pair.section(u'=', 0, 0);
        const QString value = pair.section(u'=', 1);
        if (key == u"host"_s)
            settings.Host = value;
        else if (key == u"port"_s)
            settings.Port = value.toInt();
        else if (key == u"dbname"_s)
            settings.Database = value;
        else if (key == u"user"_s)
            settings.User = value;
        else if (key == u"password"_s)
            settings.Password = value;
    }
    return settings;
}

} // namespace RecordTest
