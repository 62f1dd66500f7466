#pragma once

#include "DatabaseSettingsUnit.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <optional>

class QSqlError;

// The record store's one database connection and its one statement object. QtSql ties a
// connection to the thread that made it, so this object is made, used and destroyed on one
// thread. Not thread-safe.
class TRecordConnection
{
public:
    explicit TRecordConnection(QString connectionName);
    ~TRecordConnection();

    TRecordConnection(const TRecordConnection&) = delete;
    TRecordConnection& operator=(const TRecordConnection&) = delete;

    // Closes the connection and points it at another database; opens nothing.
    void Configure(const TDatabaseSettings& settings);
    // Opens the connection unless it is open; throws DoorlockError with the driver's message.
    void Open();
    void Close();

    // Starts a statement: closes the previous result, opens the connection if it is closed,
    // sets the text. Throws DoorlockError.
    QSqlQuery& Prepare(const QString& text);
    // Runs the prepared statement; throws DoorlockError.
    void Exec(QSqlQuery& statement);
    // Closes the statement's result, if one is open.
    void Finish();

    // True once after a failure that closed an SQLite connection because its file was removed,
    // replaced or could not be written: opening again reaches the file now at the path.
    bool TakeFileFault();

    // The driver's own message on one line.
    static QString MessageOf(const QSqlError& error);

private:
    [[noreturn]] void Fail(const QSqlError& error);
    void ApplySessionSettings();

    const QString m_name;
    TDatabaseSettings m_settings;
    bool m_configured = false;
    bool m_fileFault = false;
    QSqlDatabase m_database;
    std::optional<QSqlQuery> m_statement; // exists while the connection is open
};
