#include "RecordConnectionUnit.h"

#include "DoorlockError.h"

#include <QFileInfo>
#include <QSqlError>
#include <QStringList>
#include <QUrl>

#include <utility>

using namespace Qt::Literals::StringLiterals;

TRecordConnection::TRecordConnection(QString connectionName) : m_name(std::move(connectionName)) {}

TRecordConnection::~TRecordConnection()
{
    Close();
    if (m_configured) {
        m_database = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
}

void TRecordConnection::Configure(const TDatabaseSettings& settings)
{
    Close();
    if (m_configured) {
        m_database = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    m_settings = settings;
    m_database = QSqlDatabase::addDatabase(settings.Driver, m_name);
    m_configured = true;

    if (settings.IsSQLite()) {
        // mode=rw: a missing file is an error; the program never creates the database.
        const QString file = QFileInfo(settings.Database).absoluteFilePath();
        m_database.setDatabaseName(QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded) +
                                   u"?mode=rw"_s);
        m_database.setConnectOptions(u"QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT="_s +
                                     QString::number(settings.LockTimeoutMs));
        return;
    }
    m_database.setDatabaseName(settings.Database);
    m_database.setHostName(settings.Host);
    m_database.setPort(settings.Port);
    m_database.setUserName(settings.User);
    m_database.setPassword(settings.Password);
    if (settings.Driver == u"QPSQL"_s) {
        // An unreachable server must not hold a request for minutes.
        m_database.setConnectOptions(u"connect_timeout=10"_s);
    }
}

void TRecordConnection::Open()
{
    if (!m_configured)
        throw DoorlockError(u"No database is set for the record store"_s);
    if (m_database.isOpen())
        return;
    if (!m_database.open()) {
        QString message = MessageOf(m_database.lastError());
        // SQLite's "unable to open database file" does not say which file.
        if (m_settings.IsSQLite())
            message += u": "_s + QFileInfo(m_settings.Database).absoluteFilePath();
        throw DoorlockError(message);
    }
    ApplySessionSettings();
    m_statement.emplace(m_database);
}

void TRecordConnection::ApplySessionSettings()
{
    QStringList settings;
    if (m_settings.IsSQLite()) {
        // A statement that has returned must be on disk: with a rollback journal the commit
        // is the journal's removal, and only synchronous=EXTRA also syncs the folder after
        // it. The journal keeps the database one file at rest, which hotels copy as backup.
        // The lock wait is the driver's busy timeout, set with the connect options.
        settings << u"PRAGMA journal_mode=DELETE"_s << u"PRAGMA synchronous=EXTRA"_s;
    } else if (m_settings.Driver == u"QPSQL"_s) {
        settings << u"SET lock_timeout = "_s + QString::number(m_settings.LockTimeoutMs);
    }
    for (const QString& statement : settings) {
        QSqlQuery query(m_database);
        if (!query.exec(statement)) {
            const QString message = MessageOf(query.lastError());
            query = QSqlQuery();
            m_database.close();
            throw DoorlockError(message);
        }
    }
}

void TRecordConnection::Close()
{
    m_statement.reset();
    if (m_database.isOpen())
        m_database.close();
}

QSqlQuery& TRecordConnection::Prepare(const QString& text)
{
    Finish();
    Open();
    if (!m_statement->prepare(text))
        Fail(m_statement->lastError());
    return *m_statement;
}

void TRecordConnection::Exec(QSqlQuery& statement)
{
    if (!statement.exec())
        Fail(statement.lastError());
}

void TRecordConnection::Finish()
{
    if (m_statement)
        m_statement->finish();
}

void TRecordConnection::Fail(const QSqlError& error)
{
    const QString message = MessageOf(error);
    if (m_settings.IsSQLite()) {
        // An open connection keeps the file it opened: once that file is removed or replaced
        // (SQLite then refuses to write, "readonly"), or cannot be written, only a fresh
        // connection reaches the file at the path. Primary codes: READONLY, IOERR, CANTOPEN.
        const int code = error.nativeErrorCode().toInt() & 0xff;
        if (code == 8 || code == 10 || code == 14) {
            Close();
            m_fileFault = true;
        }
    } else {
        // A server's own errors carry an SQLSTATE; a lost connection carries none, or one of
        // class 08 (connection exception) or 57P (server shut down or restarting). Closing
        // makes the next operation connect afresh once the server is back.
        const QString state = error.nativeErrorCode();
        if (state.isEmpty() || state.startsWith(u"08"_s) || state.startsWith(u"57P"_s))
            Close();
    }
    throw DoorlockError(message);
}

bool TRecordConnection::TakeFileFault()
{
    return std::exchange(m_fileFault, false);
}

QString TRecordConnection::MessageOf(const QSqlError& error)
{
    // databaseText is what SQLite or the server said; driverText is Qt's own summary
    // ("Unable to execute statement"), used only when the driver said nothing.
    QString message = error.databaseText();
    if (message.trimmed().isEmpty())
        message = error.driverText();

    // The log takes one line per entry. PostgreSQL's position context ("LINE 1: ..." and a
    // caret under it) only makes sense on lines of its own, so it is left out.
    QStringList lines;
    bool afterPosition = false;
    for (const QString& line : message.split(u'\n')) {
        const QString text = line.simplified();
        const bool isPosition = line.startsWith(u"LINE "_s);
        const bool isCaret = afterPosition && text == u"^"_s;
        afterPosition = isPosition;
        if (!text.isEmpty() && !isPosition && !isCaret)
            lines << text;
    }
    return lines.join(u' ');
}
