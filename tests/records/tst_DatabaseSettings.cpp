// Where the record store lives: the optional [Database] section of Option.ini.

#include "DatabaseSettingsUnit.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class tst_DatabaseSettings : public QObject
{
    Q_OBJECT

private slots:
    void load_data();
    void load();
};

void tst_DatabaseSettings::load_data()
{
    QTest::addColumn<QByteArray>("ini"); // empty: no Option.ini at all
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("database"); // "<dir>" stands for the program's folder
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");

    const QString besideProgram = u"<dir>Client.db"_s;
    QTest::newRow("no Option.ini") << QByteArray() << u"QSQLITE"_s << besideProgram << QString()
                                   << -1 << QString() << QString();
    QTest::newRow("no [Database] section")
        << QByteArray("[DoorlockOption]\r\nPortName=COM1\r\n[SysOption]\r\nDoorlockPortNo=8886\r\n")
        << u"QSQLITE"_s << besideProgram << QString() << -1 << QString() << QString();
    QTest::newRow("shared PostgreSQL server")
        << QByteArray("[Database]\r\nDriver=QPSQL\r\nDatabase=doorlock\r\nHost=db.hotel.lan\r\n"
                      "Port=5433\r\nUser=desk\r\nPassword=s3cret\r\n")
        << u"QPSQL"_s << u"doorlock"_s << u"db.hotel.lan"_s << 5433 << u"desk"_s << u"s3cret"_s;
    QTest::newRow("driver in lower case, no port")
        << QByteArray("[database]\r\ndriver=qpsql\r\ndatabase=doorlock\r\n") << u"QPSQL"_s
        << u"doorlock"_s << QString() << -1 << QString() << QString();
    QTest::newRow("port not a number")
        << QByteArray("[Database]\r\nDriver=QPSQL\r\nPort=fifty\r\n") << u"QPSQL"_s << QString()
        << QString() << -1 << QString() << QString();
    QTest::newRow("SQLite file relative to the program")
        << QByteArray("[Database]\r\nDatabase=data/Rooms.db\r\n") << u"QSQLITE"_s
        << u"<dir>data/Rooms.db"_s << QString() << -1 << QString() << QString();
    QTest::newRow("SQLite file elsewhere")
        << QByteArray("[Database]\r\nDriver=QSQLITE\r\nDatabase=/srv/doorlock/Client.db\r\n")
        << u"QSQLITE"_s << u"/srv/doorlock/Client.db"_s << QString() << -1 << QString()
        << QString();
    QTest::newRow("ODBC connection string")
        << QByteArray("[Database]\r\nDriver=QODBC\r\nDatabase=Driver={Microsoft Access Driver "
                      "(*.mdb, *.accdb)};Dbq=C:\\Hotel\\Client.mdb;\r\n")
        << u"QODBC"_s
        << u"Driver={Microsoft Access Driver (*.mdb, *.accdb)};Dbq=C:\\Hotel\\Client.mdb;"_s
        << QString() << -1 << QString() << QString();
}

void tst_DatabaseSettings::load()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, driver);
    QFETCH(QString, database);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QString, password);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString programDir = dir.path() + u'/';
    const QString iniPath = programDir + u"Option.ini"_s;
    if (!ini.isEmpty()) {
        QFile file(iniPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini);
    }

    const TDatabaseSettings settings = TDatabaseSettings::Load(iniPath, programDir);
    QCOMPARE(settings.Driver, driver);
    QCOMPARE(settings.Database, QString(database).replace(u"<dir>"_s, programDir));
    QCOMPARE(settings.Host, host);
    QCOMPARE(settings.Port, port);
    QCOMPARE(settings.User, user);
    QCOMPARE(settings.Password, password);
    QCOMPARE(settings.IsSQLite(), driver == u"QSQLITE"_s);
}

QTEST_GUILESS_MAIN(tst_DatabaseSettings)
#include "tst_DatabaseSettings.moc"
