#pragma once

#include "DatabaseSettingsUnit.h"

#include <QString>
#include <QStringList>

// Helpers shared by the record store's tests and their child process.
namespace RecordTest {

// The source tree's copy of a file below src/records.
QString RecordsSourceFile(const QString& name);

// The entry texts of a log file, time stamps removed; empty when there is no file.
QStringList LogEntries(const QString& logPath);

// The PostgreSQL test server: the libpq connection string in DOORLOCK_TEST_PG, or in the file
// named by DOORLOCK_TEST_PG_FILE (written by scripts/pg-test-server.sh).
struct TPostgresConfig
{
    bool Configured = false; // one of the two variables is set
    QString ConnInfo;
    QString Error; // why a configured server cannot be used
};
TPostgresConfig PostgresConfig();

// Settings for the QPSQL driver from a connection string "host=... port=... dbname=...".
TDatabaseSettings PostgresSettings(const QString& connInfo);

} // namespace RecordTest
