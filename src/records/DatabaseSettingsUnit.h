#pragma once

#include <QString>

// Where the record store lives: the optional [Database] section of Option.ini. Without it the
// store is the SQLite file Client.db beside the program.
//
//   [Database]
//   Driver=QSQLITE      QSQLITE (default), QPSQL or QODBC
//   Database=...        QSQLITE: the database file (relative to the program's folder);
//                       QPSQL: the database name;
//                       QODBC: a complete ODBC connection string, e.g. for a hotel's existing
//                       Access file on Windows:
//                       Driver={Microsoft Access Driver (*.mdb, *.accdb)};Dbq=C:\Hotel\Client.mdb;
//   Host=...            QPSQL: server name or address
//   Port=...            QPSQL: server port (driver default when missing)
//   User=...            QPSQL/QODBC: user name
//   Password=...        QPSQL/QODBC: password
//
// A plain value type; not shared between threads.
struct TDatabaseSettings
{
    QString Driver = QStringLiteral("QSQLITE");
    QString Database;
    QString Host;
    int Port = -1; // -1: the driver's default
    QString User;
    QString Password;
    // How long a statement waits for a lock that another program holds before it fails
    // (SQLite and PostgreSQL).
    int LockTimeoutMs = 5000;

    // The SQLite file Client.db in programDir (which ends with a separator).
    static TDatabaseSettings BesideProgram(const QString& programDir);
    // Reads the [Database] section of iniPath; missing keys keep the defaults above.
    static TDatabaseSettings Load(const QString& iniPath, const QString& programDir);

    bool IsSQLite() const { return Driver == QLatin1String("QSQLITE"); }
};
