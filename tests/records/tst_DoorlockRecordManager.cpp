// The record store against real databases: a fresh copy of the build's Client.db (SQLite) and
// fresh tables on the private PostgreSQL test server. Every test runs on both.

#include "ChildProcess.h"
#include "DoorlockRecordManagerUnit.h"
#include "LogFileUnit.h"
#include "RecordTestSupport.h"
#include "SchemaScriptUnit.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <QTest>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString AdminConnection = u"admin"_s;

// Doubles compared bit for bit, shown readably: 17 significant digits name one double.
QString Exact(double value)
{
    return QString::number(value, 'g', 17);
}

QString ClientDbOfBuild()
{
    return qEnvironmentVariable("DOORLOCK_BIN_DIR") + u"/Client.db"_s;
}

} // namespace

class tst_DoorlockRecordManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void initTestCase();
    void init();
    void cleanup();

    void roomTimes_data();
    void roomTimes();
    void rowsAsFound();
    void issueRecordStoresEveryColumn_data();
    void issueRecordStoresEveryColumn();
    void dayCountsRoundTripExactly_data();
    void dayCountsRoundTripExactly();
    void missingDatabase();
    void fileReplacedWhileOpen_data();
    void fileReplacedWhileOpen();
    void missingTableOrColumn_data();
    void missingTableOrColumn();
    void lockedDatabase();
    void lostConnection();
    void concurrentOperations();
    void killedWriter_data();
    void killedWriter();

private:
    bool IsPostgres() const { return m_backend == u"postgresql"_s; }
    std::unique_ptr<TDoorlockRecordManager> NewStore();
    QStringList Log() const { return RecordTest::LogEntries(m_logPath); }
    // The test's own connection, beside the store's.
    bool Exec(const QString& sql, const QString& connection = AdminConnection);
    QList<QVariantList> Rows(const QString& sql);
    bool RunSchema(const QString& connection);

    QString m_backend;
    RecordTest::TPostgresConfig m_postgres;
    std::optional<QTemporaryDir> m_dir;
    QString m_logPath;
    std::unique_ptr<TLogFile> m_log;
    TDatabaseSettings m_settings;
};

void tst_DoorlockRecordManager::initTestCase_data()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("sqlite") << u"sqlite"_s;
    QTest::newRow("postgresql") << u"postgresql"_s;
}

void tst_DoorlockRecordManager::initTestCase()
{
    QVERIFY2(QFile::exists(ClientDbOfBuild()), qPrintable(ClientDbOfBuild() + u" is missing"_s));
    m_postgres = RecordTest::PostgresConfig();
}

void tst_DoorlockRecordManager::init()
{
    QFETCH_GLOBAL(QString, backend);
    m_backend = backend;
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
    m_logPath = m_dir->filePath(u"test.LOG"_s);
    m_log = std::make_unique<TLogFile>(m_logPath);

    if (!IsPostgres()) {
        m_settings = TDatabaseSettings::BesideProgram(m_dir->path() + u'/');
        QVERIFY(QFile::copy(ClientDbOfBuild(), m_settings.Database));
        QSqlDatabase admin = QSqlDatabase::addDatabase(u"QSQLITE"_s, AdminConnection);
        admin.setDatabaseName(m_settings.Database);
        QVERIFY2(admin.open(), qPrintable(admin.lastError().text()));
    } else {
        if (!m_postgres.Configured)
            QSKIP("no PostgreSQL test server: set DOORLOCK_TEST_PG or run through CTest");
        QVERIFY2(m_postgres.Error.isEmpty(), qPrintable(m_postgres.Error));
        m_settings = RecordTest::PostgresSettings(m_postgres.ConnInfo);
        QSqlDatabase admin = QSqlDatabase::addDatabase(u"QPSQL"_s, AdminConnection);
        admin.setHostName(m_settings.Host);
        admin.setPort(m_settings.Port);
        admin.setDatabaseName(m_settings.Database);
        admin.setUserName(m_settings.User);
        QVERIFY2(admin.open(),
                 qPrintable(u"PostgreSQL test server unreachable ("_s + m_postgres.ConnInfo +
                            u"): "_s + admin.lastError().text()));
        QVERIFY(Exec(u"DROP TABLE IF EXISTS T_Room, T_IssueCardRecord"_s));
        QVERIFY(RunSchema(AdminConnection));
    }
    // Short lock waits keep the lock tests quick.
    m_settings.LockTimeoutMs = 300;
}

void tst_DoorlockRecordManager::cleanup()
{
    m_log.reset();
    if (QSqlDatabase::contains(AdminConnection)) {
        QSqlDatabase::database(AdminConnection, false).close();
        QSqlDatabase::removeDatabase(AdminConnection);
    }
    m_dir.reset();
}

std::unique_ptr<TDoorlockRecordManager> tst_DoorlockRecordManager::NewStore()
{
    auto store = std::make_unique<TDoorlockRecordManager>(*m_log);
    store->Open(m_settings);
    return store;
}

bool tst_DoorlockRecordManager::Exec(const QString& sql, const QString& connection)
{
    QSqlQuery query(QSqlDatabase::database(connection, false));
    if (query.exec(sql))
        return true;
    qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    return false;
}

QList<QVariantList> tst_DoorlockRecordManager::Rows(const QString& sql)
{
    QSqlQuery query(QSqlDatabase::database(AdminConnection, false));
    QList<QVariantList> rows;
    if (!query.exec(sql)) {
        QTest::qFail(qPrintable(sql + u": "_s + query.lastError().text()), __FILE__, __LINE__);
        return rows;
    }
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < query.record().count(); ++i)
            row << query.value(i);
        rows << row;
    }
    return rows;
}

bool tst_DoorlockRecordManager::RunSchema(const QString& connection)
{
    QFile schema(RecordTest::RecordsSourceFile(u"schema-postgresql.sql"_s));
    if (!schema.open(QIODevice::ReadOnly))
        return false;
    for (const QString& statement : SchemaStatements(QString::fromUtf8(schema.readAll()))) {
        if (!Exec(statement, connection))
            return false;
    }
    return true;
}

void tst_DoorlockRecordManager::roomTimes_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("plain key") << u"0101101"_s;
    QTest::newRow("single quote") << u"A'01"_s;
    QTest::newRow("double quote") << u"B\"02"_s;
    QTest::newRow("Chinese") << u"东楼0808"_s;
    QTest::newRow("statement text") << u"x'; drop table T_Room; --"_s;
    QTest::newRow("blanks kept") << u" 101 "_s;
    QTest::newRow("empty key") << QString(0, QChar());
}

void tst_DoorlockRecordManager::roomTimes()
{
    QFETCH(QString, key);
    auto store = NewStore();

    QCOMPARE(Exact(store->GetLastCheckInTime(key)), Exact(0));
    store->UpdateLastCheckInTime(key, 45356.5);
    QCOMPARE(Log(), QStringList{u"新建房间"_s + key});
    QCOMPARE(Exact(store->GetLastCheckInTime(key)), Exact(45356.5));

    // A room with a row is changed in place and nothing is logged.
    store->UpdateLastCheckInTime(key, 45357.25);
    QCOMPARE(Exact(store->GetLastCheckInTime(key)), Exact(45357.25));
    QCOMPARE(Log().size(), 1);

    const QList<QVariantList> rows = Rows(u"select RoomNo, LastCheckInTime from T_Room"_s);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0].toString(), key);
    QVERIFY(!rows[0][0].isNull());
    QCOMPARE(Exact(rows[0][1].toDouble()), Exact(45357.25));

    // InsertRoom adds a row of its own, whatever is there.
    store->InsertRoom(key + u"+"_s, 45358.0);
    QCOMPARE(Log(), (QStringList{u"新建房间"_s + key, u"新建房间"_s + key + u"+"_s}));
    QCOMPARE(Exact(store->GetLastCheckInTime(key + u"+"_s)), Exact(45358.0));
    QCOMPARE(Exact(store->GetLastCheckInTime(key)), Exact(45357.25));
}

void tst_DoorlockRecordManager::rowsAsFound()
{
    // A file from elsewhere may hold two rows for a room, or a row without a time.
    QVERIFY(Exec(u"insert into T_Room(RoomNo, LastCheckInTime) values ('0101', 1.5)"_s));
    QVERIFY(Exec(u"insert into T_Room(RoomNo, LastCheckInTime) values ('0101', 2.5)"_s));
    QVERIFY(Exec(u"insert into T_Room(RoomNo, LastCheckInTime) values ('0102', NULL)"_s));
    auto store = NewStore();

    QCOMPARE(Exact(store->GetLastCheckInTime(u"0101"_s)), Exact(1.5));
    QCOMPARE(Exact(store->GetLastCheckInTime(u"0102"_s)), Exact(0));

    store->UpdateLastCheckInTime(u"0101"_s, 3.5);
    store->UpdateLastCheckInTime(u"0102"_s, 4.5);
    QCOMPARE(Log(), QStringList());
    const QList<QVariantList> rows =
        Rows(u"select RoomNo, LastCheckInTime from T_Room order by RoomNo"_s);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(Exact(rows[0][1].toDouble()), Exact(3.5));
    QCOMPARE(Exact(rows[1][1].toDouble()), Exact(3.5));
    QCOMPARE(Exact(rows[2][1].toDouble()), Exact(4.5));
    QCOMPARE(Exact(store->GetLastCheckInTime(u"0101"_s)), Exact(3.5));
    QCOMPARE(Exact(store->GetLastCheckInTime(u"0102"_s)), Exact(4.5));
}

void tst_DoorlockRecordManager::issueRecordStoresEveryColumn_data()
{
    QTest::addColumn<QString>("registerId");
    QTest::addColumn<QString>("cardNo");
    QTest::addColumn<QString>("roomNo");
    QTest::addColumn<int>("cardType");
    QTest::addColumn<double>("lastCheckIn");
    QTest::addColumn<double>("checkIn");
    QTest::addColumn<double>("checkOut");
    QTest::addColumn<bool>("isCopy");
    QTest::addColumn<QString>("guestName");
    QTest::addColumn<double>("operating");

    QTest::newRow("new card") << u"R20080506001"_s << u"2008050712001101101"_s << u"0101101"_s << 1
                              << 39574.37847222222 << 39574.37847222222 << 39575.5 << false
                              << u"张三"_s << 39574.378935185186;
    // The test dialog has no registration: a null text is stored as empty text, not NULL.
    QTest::newRow("copy card without registration")
        << QString() << u"2008050712001101"_s << u"东楼0808"_s << 1 << 39574.25 << 39574.3
        << 39575.5 << true << u"O'Brien \"Bob\""_s << 39574.4;
    QTest::newRow("negative card number, zero times")
        << u"x'y"_s << u"-42"_s << u""_s << -7 << 0.0 << 0.0 << 0.0 << false << QString() << 0.0;
}

void tst_DoorlockRecordManager::issueRecordStoresEveryColumn()
{
    QFETCH(QString, registerId);
    QFETCH(QString, cardNo);
    QFETCH(QString, roomNo);
    QFETCH(int, cardType);
    QFETCH(double, lastCheckIn);
    QFETCH(double, checkIn);
    QFETCH(double, checkOut);
    QFETCH(bool, isCopy);
    QFETCH(QString, guestName);
    QFETCH(double, operating);

    auto store = NewStore();
    store->AddIssueCardRecord(registerId, cardNo, roomNo, cardType, lastCheckIn, checkIn, checkOut,
                              isCopy, guestName, operating);
    QCOMPARE(Log(), QStringList());

    const QList<QVariantList> rows =
        Rows(u"select RegisterId, CardNo, RoomNo, CardType, LastCheckInTime, CheckInTime, "
             u"CheckOutTime, IsCopy, GuestName, OpratingTime from T_IssueCardRecord"_s);
    QCOMPARE(rows.size(), 1);
    const QVariantList& row = rows[0];
    for (int text : {0, 1, 2, 8})
        QVERIFY2(!row[text].isNull(), "texts are stored as text, never NULL");
    QCOMPARE(row[0].toString(), registerId);
    QCOMPARE(row[1].toString(), cardNo);
    QCOMPARE(row[2].toString(), roomNo);
    QCOMPARE(row[3].toInt(), cardType);
    QCOMPARE(Exact(row[4].toDouble()), Exact(lastCheckIn));
    QCOMPARE(Exact(row[5].toDouble()), Exact(checkIn));
    QCOMPARE(Exact(row[6].toDouble()), Exact(checkOut));
    QCOMPARE(row[7].toBool(), isCopy);
    QCOMPARE(row[8].toString(), guestName);
    QCOMPARE(Exact(row[9].toDouble()), Exact(operating));
}

void tst_DoorlockRecordManager::dayCountsRoundTripExactly_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("2024-03-06 14:02") << 45356.58472222222;
    QTest::newRow("2008-05-06 09:05") << 39574.37847222222;
    QTest::newRow("next double up") << std::nextafter(45356.58472222222, 1e9);
    QTest::newRow("one third of a day") << 1.0 / 3.0;
    QTest::newRow("year 1, noon") << -693593.5;
    QTest::newRow("9999-12-31 23:59:59") << 2958465.999988426;
    QTest::newRow("tiny") << 1e-300;
}

void tst_DoorlockRecordManager::dayCountsRoundTripExactly()
{
    QFETCH(double, value);
    auto store = NewStore();

    // A copy card's start time must be the stored one, bit for bit.
    store->UpdateLastCheckInTime(u"0101"_s, value);
    QCOMPARE(Exact(store->GetLastCheckInTime(u"0101"_s)), Exact(value));

    store->AddIssueCardRecord(u"R1"_s, u"1"_s, u"0101"_s, 1, value, value, value, true, u"G"_s,
                              value);
    const QList<QVariantList> rows =
        Rows(u"select LastCheckInTime, CheckInTime, CheckOutTime, OpratingTime "
             u"from T_IssueCardRecord"_s);
    QCOMPARE(rows.size(), 1);
    for (const QVariant& stored : rows[0])
        QCOMPARE(Exact(stored.toDouble()), Exact(value));
    QCOMPARE(Log().size(), 1); // the new room only
}

void tst_DoorlockRecordManager::missingDatabase()
{
    const QString missingName =
        u"doorlock_missing_"_s + QString::number(QCoreApplication::applicationPid());
    QString expected;
    if (IsPostgres()) {
        QVERIFY(Exec(u"DROP DATABASE IF EXISTS "_s + missingName + u" WITH (FORCE)"_s));
        m_settings.Database = missingName;
        expected = u"database \""_s + missingName + u"\" does not exist"_s;
    } else {
        QVERIFY(QFile::remove(m_settings.Database));
        expected = u"unable to open database file: "_s + m_settings.Database;
    }

    auto store = NewStore();
    QCOMPARE(Log().size(), 1);
    QVERIFY2(Log()[0].contains(expected), qPrintable(Log()[0]));

    // Every operation tries to open the database, logs why it cannot, and returns.
    QCOMPARE(Exact(store->GetLastCheckInTime(u"101"_s)), Exact(0));
    store->UpdateLastCheckInTime(u"101"_s, 45356.5);
    store->InsertRoom(u"102"_s, 45356.5);
    store->AddIssueCardRecord(u"R1"_s, u"1"_s, u"101"_s, 1, 1, 1, 1, false, u"G"_s, 1);
    const QStringList failures = Log();
    QCOMPARE(failures.size(), 5);
    for (const QString& entry : failures)
        QVERIFY2(entry.contains(expected), qPrintable(entry));

    // The database appears: the next operation opens it.
    if (IsPostgres()) {
        QVERIFY(Exec(u"CREATE DATABASE "_s + missingName));
        {
            QSqlDatabase created = QSqlDatabase::cloneDatabase(AdminConnection, u"created"_s);
            created.setDatabaseName(missingName);
            QVERIFY(created.open());
            QVERIFY(RunSchema(u"created"_s));
            created.close();
        }
        QSqlDatabase::removeDatabase(u"created"_s);
    } else {
        QVERIFY(QFile::copy(ClientDbOfBuild(), m_settings.Database));
    }
    store->UpdateLastCheckInTime(u"101"_s, 45356.5);
    QCOMPARE(Log().mid(5), QStringList{u"新建房间101"_s});
    QCOMPARE(Exact(store->GetLastCheckInTime(u"101"_s)), Exact(45356.5));

    // ... and keeps it open.
    if (IsPostgres()) {
        const QString backends =
            u"select pid from pg_stat_activity where datname = '"_s + missingName + u"'"_s;
        const QList<QVariantList> before = Rows(backends);
        QCOMPARE(before.size(), 1);
        QCOMPARE(Exact(store->GetLastCheckInTime(u"101"_s)), Exact(45356.5));
        QCOMPARE(Rows(backends), before);
    } else {
        // An open connection still reads the file after it was moved away.
        QVERIFY(QFile::rename(m_settings.Database, m_settings.Database + u".moved"_s));
        QCOMPARE(Exact(store->GetLastCheckInTime(u"101"_s)), Exact(45356.5));
    }
    QCOMPARE(Log().size(), 6);

    store.reset();
    if (IsPostgres())
        QVERIFY(Exec(u"DROP DATABASE "_s + missingName + u" WITH (FORCE)"_s));
}

void tst_DoorlockRecordManager::fileReplacedWhileOpen_data()
{
    QTest::addColumn<bool>("gapBetween");
    QTest::newRow("removed, then a backup put back") << true;
    QTest::newRow("another file moved over it") << false;
}

void tst_DoorlockRecordManager::fileReplacedWhileOpen()
{
    if (IsPostgres())
        QSKIP("a server database has no file to remove");
    QFETCH(bool, gapBetween);
    auto store = NewStore();
    const auto add = [&](const QString& registerId) {
        store->AddIssueCardRecord(registerId, u"1"_s, u"0101"_s, 1, 1, 1, 1, false, u"G"_s, 1);
    };
    add(u"R1"_s);
    QCOMPARE(Log(), QStringList());
    QSqlDatabase::database(AdminConnection, false).close();

    const QString backup = m_dir->filePath(u"backup.db"_s);
    QVERIFY(QFile::copy(ClientDbOfBuild(), backup));
    int logged = 0;
    if (gapBetween) {
        QVERIFY(QFile::remove(m_settings.Database));
        // The open connection still holds the removed file; the write is refused and logged.
        add(u"R2"_s);
        logged = 1;
        QCOMPARE(Log().size(), logged);
        QVERIFY2(Log()[0].contains(u"unable to open database file"_s), qPrintable(Log()[0]));
        QVERIFY(QFile::rename(backup, m_settings.Database));
    } else {
        QVERIFY(std::rename(QFile::encodeName(backup).constData(),
                            QFile::encodeName(m_settings.Database).constData()) == 0);
    }

    // The file now at the path takes the very next record.
    add(u"R3"_s);
    add(u"R4"_s);
    QCOMPARE(Log().size(), logged);
    QVERIFY(QSqlDatabase::database(AdminConnection, false).open());
    const QList<QVariantList> rows =
        Rows(u"select RegisterId from T_IssueCardRecord order by RegisterId"_s);
    QCOMPARE(rows, (QList<QVariantList>{{u"R3"_s}, {u"R4"_s}}));
}

void tst_DoorlockRecordManager::missingTableOrColumn_data()
{
    QTest::addColumn<QStringList>("damage");
    QTest::addColumn<bool>("roomTableDamaged");
    // What SQLite and PostgreSQL say, as patterns: the message differs by statement.
    QTest::addColumn<QString>("sqliteMessage");
    QTest::addColumn<QString>("postgresMessage");

    QTest::newRow("room table missing")
        << QStringList{u"DROP TABLE T_Room"_s} << true << u"^no such table: T_Room$"_s
        << u"^ERROR: relation \"t_room\" does not exist \\(42P01\\)$"_s;
    QTest::newRow("room time column missing")
        << QStringList{u"DROP TABLE T_Room"_s, u"CREATE TABLE T_Room (RoomNo TEXT)"_s} << true
        << u"^(no such column: LastCheckInTime|table T_Room has no column named "
           u"LastCheckInTime)$"_s
        << u"^ERROR: column \"lastcheckintime\" (of relation \"t_room\" )?does not exist "
           u"\\(42703\\)$"_s;
    QTest::newRow("issue record column missing")
        << QStringList{u"DROP TABLE T_IssueCardRecord"_s,
                       u"CREATE TABLE T_IssueCardRecord (RegisterId TEXT, CardNo TEXT, "
                       u"RoomNo TEXT)"_s}
        << false << u"^table T_IssueCardRecord has no column named CardType$"_s
        << u"^ERROR: column \"cardtype\" of relation \"t_issuecardrecord\" does not exist "
           u"\\(42703\\)$"_s;
}

void tst_DoorlockRecordManager::missingTableOrColumn()
{
    QFETCH(QStringList, damage);
    QFETCH(bool, roomTableDamaged);
    QFETCH(QString, sqliteMessage);
    QFETCH(QString, postgresMessage);
    const QRegularExpression expected(IsPostgres() ? postgresMessage : sqliteMessage);
    QVERIFY(expected.isValid());

    auto store = NewStore();
    for (const QString& sql : damage)
        QVERIFY(Exec(sql));

    if (roomTableDamaged) {
        QCOMPARE(Exact(store->GetLastCheckInTime(u"101"_s)), Exact(0));
        store->UpdateLastCheckInTime(u"101"_s, 45356.5); // fails: no room is added
        store->InsertRoom(u"101"_s, 45356.5);
        QCOMPARE(Log().size(), 3);
    } else {
        store->AddIssueCardRecord(u"R1"_s, u"1"_s, u"101"_s, 1, 1, 1, 1, false, u"G"_s, 1);
        QCOMPARE(Log().size(), 1);
    }
    // The database's own message, alone, on one line.
    for (const QString& entry : Log())
        QVERIFY2(expected.match(entry).hasMatch(), qPrintable(entry));

    // The caller goes on, and the rest of the database still serves.
    if (roomTableDamaged) {
        store->AddIssueCardRecord(u"R1"_s, u"1"_s, u"101"_s, 1, 1, 1, 1, false, u"G"_s, 1);
        QCOMPARE(Rows(u"select CardNo from T_IssueCardRecord"_s).size(), 1);
        QCOMPARE(Log().size(), 3);
    } else {
        store->UpdateLastCheckInTime(u"101"_s, 45356.5);
        QCOMPARE(Log().last(), u"新建房间101"_s);
    }
}

void tst_DoorlockRecordManager::lockedDatabase()
{
    auto store = NewStore();
    QCOMPARE(Log(), QStringList());

    // Another program holds the database (SQLite) or the table (PostgreSQL) exclusively.
    QString expected;
    if (IsPostgres()) {
        QVERIFY(Exec(u"BEGIN"_s));
        QVERIFY(Exec(u"LOCK TABLE T_Room IN ACCESS EXCLUSIVE MODE"_s));
        expected = u"canceling statement due to lock timeout"_s;
    } else {
        QVERIFY(Exec(u"BEGIN EXCLUSIVE"_s));
        expected = u"database is locked"_s;
    }

    store->UpdateLastCheckInTime(u"101"_s, 45356.5);
    QCOMPARE(Exact(store->GetLastCheckInTime(u"101"_s)), Exact(0));
    QCOMPARE(Log().size(), 2);
    for (const QString& entry : Log())
        QVERIFY2(entry.contains(expected), qPrintable(entry));

    QVERIFY(Exec(u"ROLLBACK"_s));
    store->UpdateLastCheckInTime(u"101"_s, 45356.5);
    QCOMPARE(Log().mid(2), QStringList{u"新建房间101"_s});
    QCOMPARE(Exact(store->GetLastCheckInTime(u"101"_s)), Exact(45356.5));
}

void tst_DoorlockRecordManager::lostConnection()
{
    if (!IsPostgres())
        QSKIP("an SQLite file has no server connection to lose");

    auto store = NewStore();
    store->UpdateLastCheckInTime(u"101"_s, 45356.5);
    QCOMPARE(Log(), QStringList{u"新建房间101"_s});

    // The server ends the store's session, as a restart or an administrator would.
    const QList<QVariantList> ended =
        Rows(u"select pg_terminate_backend(pid) from pg_stat_activity "
             u"where datname = current_database() and pid <> pg_backend_pid() "
             u"and backend_type = 'client backend'"_s);
    QCOMPARE(ended.size(), 1);
    QVERIFY(ended[0][0].toBool());

    // The statement that finds the connection gone fails and is logged ...
    store->UpdateLastCheckInTime(u"102"_s, 45357.5);
    QCOMPARE(Log().size(), 2);
    QVERIFY(!Log()[1].startsWith(u"新建房间"_s));

    // ... and the next one connects afresh.
    store->UpdateLastCheckInTime(u"102"_s, 45357.5);
    QCOMPARE(Log().mid(2), QStringList{u"新建房间102"_s});
    QCOMPARE(Exact(store->GetLastCheckInTime(u"101"_s)), Exact(45356.5));
    QCOMPARE(Exact(store->GetLastCheckInTime(u"102"_s)), Exact(45357.5));
}

void tst_DoorlockRecordManager::concurrentOperations()
{
    constexpr int threadCount = 8;
    constexpr int rounds = 10;
    constexpr int rooms = 4;
    auto store = NewStore();

    // Every thread updates the same new rooms. If an update and its insert could interleave
    // with another update, a room would be added twice.
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&store, t] {
            for (int r = 0; r < rounds; ++r) {
                const QString room = u"C"_s + QString::number(r % rooms);
                store->UpdateLastCheckInTime(room, 45000.0 + t * 100 + r);
                store->AddIssueCardRecord(QString::number(t) + u'-' + QString::number(r), u"1"_s,
                                          room, 1, 1, 1, 1, false, u"G"_s, 1);
                store->GetLastCheckInTime(room);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    QStringList expectedLog;
    for (int r = 0; r < rooms; ++r)
        expectedLog << u"新建房间C"_s + QString::number(r);
    QStringList log = Log();
    log.sort();
    QCOMPARE(log, expectedLog);
    QCOMPARE(Rows(u"select RoomNo from T_Room"_s).size(), rooms);

    QSet<QString> records;
    for (const QVariantList& row : Rows(u"select RegisterId from T_IssueCardRecord"_s))
        records.insert(row[0].toString());
    QCOMPARE(records.size(), threadCount * rounds);
    for (int t = 0; t < threadCount; ++t) {
        for (int r = 0; r < rounds; ++r)
            QVERIFY(records.contains(QString::number(t) + u'-' + QString::number(r)));
    }
}

void tst_DoorlockRecordManager::killedWriter_data()
{
    QTest::addColumn<int>("reportedBeforeKill");
    QTest::newRow("after the first record") << 1;
    QTest::newRow("amid a stream of records") << 40;
}

void tst_DoorlockRecordManager::killedWriter()
{
    QFETCH(int, reportedBeforeKill);
    const QString childLog = m_dir->filePath(u"child.LOG"_s);
    QStringList args{childLog, m_settings.Driver, m_settings.Database};
    if (IsPostgres())
        args << m_settings.Host << QString::number(m_settings.Port) << m_settings.User;

    TChildProcess child;
    QString error;
    QVERIFY2(
        child.Start(QCoreApplication::applicationDirPath() + u"/tst_records_writer"_s, args, error),
        qPrintable(error));

    while (child.Out().count('\n') < reportedBeforeKill) {
        QVERIFY2(child.WaitForOutput(60000), qPrintable(u"the writer stopped writing: "_s +
                                                        QString::fromLocal8Bit(child.Err())));
    }
    child.Kill(); // SIGKILL: no clean-up of any kind

    // Every record reported as written is there, in a sound database.
    const QList<QByteArray> lines = child.Out().split('\n');
    qlonglong reported = 0;
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        QCOMPARE(line.toLongLong(), reported + 1);
        ++reported;
    }
    QVERIFY(reported >= reportedBeforeKill);

    if (!IsPostgres()) {
        const QList<QVariantList> check = Rows(u"PRAGMA integrity_check"_s);
        QCOMPARE(check.size(), 1);
        QCOMPARE(check[0][0].toString(), u"ok"_s);
    }
    QSet<qlonglong> stored;
    for (const QVariantList& row : Rows(u"select RegisterId from T_IssueCardRecord"_s))
        stored.insert(row[0].toString().toLongLong());
    for (qlonglong i = 1; i <= reported; ++i)
        QVERIFY2(stored.contains(i), qPrintable(u"record "_s + QString::number(i) + u" lost"_s));
    // The one in flight at the kill may or may not have been written.
    QVERIFY(stored.size() == reported || stored.size() == reported + 1);
    QCOMPARE(RecordTest::LogEntries(childLog), QStringList());
}

QTEST_GUILESS_MAIN(tst_DoorlockRecordManager)
#include "tst_DoorlockRecordManager.moc"
