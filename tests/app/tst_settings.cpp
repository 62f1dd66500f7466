#include "ErrorOf.h"
#include "OptionUnit.h"
#include "SysOptionUnit.h"
#include "TempIniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void defaultsWithoutFile();
    void loadReadsEveryKey();
    void portNumber_data();
    void portNumber();
    void portNumberFollowsSetPortName();
    void delayMinutes_data();
    void delayMinutes();
    void useNativeDoorlockDb_data();
    void useNativeDoorlockDb();
    void emptyPasswordIsNotTheDefault();

    void sysOptionSaveWritesAllNineKeys();
    void sysOptionSaveCreatesFile();
    void optionSaveWritesOnlyItsKeys();
    void failedSaveKeepsFields();
    void failedSaveStopsAtTheFailingKey();

    void concurrentReadersWhileTextsChange();

private:
    std::unique_ptr<TTempIniFile> m_ini;
};

void TestSettings::init()
{
    m_ini = std::make_unique<TTempIniFile>();
    QVERIFY(m_ini->Dir.isValid());
}

void TestSettings::defaultsWithoutFile()
{
    TOption option(m_ini->Path);
    option.Load();
    QCOMPARE(option.PortName(), u"COM1"_s);
    QCOMPARE(option.PortNumber(), 1);
    QCOMPARE(option.DataBasePath(), u"C:\\\\"_s);
    QCOMPARE(option.DataBasePath().size(), 4);

    TSysOption sys(m_ini->Path);
    sys.Load();
    QCOMPARE(sys.Password(), u"tervix"_s);
    QCOMPARE(sys.DoorlockPortNo(), 8886);
    QCOMPARE(sys.PolicePortNo(), 8885);
    QCOMPARE(sys.MemberPortNo(), 8883);
    QCOMPARE(sys.ScanPortNo(), 8881);
    QCOMPARE(sys.DelayMinutes(), 0);
    QCOMPARE(sys.DelayMinutes2(), 0);
    QCOMPARE(sys.UseNativeDoorlockDb(), false);
    QCOMPARE(sys.SaveDoorlockRecord(), false);

    QVERIFY(!QFile::exists(m_ini->Path));
    QVERIFY(QDir(m_ini->Dir.path()).isEmpty());
}

void TestSettings::loadReadsEveryKey()
{
    const QByteArray content = "; hand-made\n"
                               "[doorlockoption]\n"
                               "portname = COM7\n"
                               "DataBasePath=\"D:\\Hotel\\Data\\\"\n"
                               "delayminutes=-15\n"
                               "DelayMinutes2=$3C\n"
                               "UseNativeDoorlockDb=1\n"
                               "SaveDoorlockRecord=-1\n"
                               "\n"
                               "[SYSOPTION]\r\n"
                               "Password='s3cret pw'\r\n"
                               "DoorlockPortNo=0x2710\r\n"
                               "PolicePortNo=1\r\n"
                               "MemberPortNo=2\r\n"
                               "ScanPortNo=3"_ba;
    m_ini->Write(content);

    TOption option(m_ini->Path);
    option.Load();
    QCOMPARE(option.PortName(), u"COM7"_s);
    QCOMPARE(option.PortNumber(), 7);
    QCOMPARE(option.DataBasePath(), u"D:\\Hotel\\Data\\"_s);

    TSysOption sys(m_ini->Path);
    sys.Load();
    QCOMPARE(sys.Password(), u"s3cret pw"_s);
    QCOMPARE(sys.DoorlockPortNo(), 10000);
    QCOMPARE(sys.PolicePortNo(), 1);
    QCOMPARE(sys.MemberPortNo(), 2);
    QCOMPARE(sys.ScanPortNo(), 3);
    QCOMPARE(sys.DelayMinutes(), -15);
    QCOMPARE(sys.DelayMinutes2(), 60);
    QCOMPARE(sys.UseNativeDoorlockDb(), true);
    QCOMPARE(sys.SaveDoorlockRecord(), true);

    // Loading never writes.
    QCOMPARE(m_ini->Read(), content);
}

void TestSettings::portNumber_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("expected");

    QTest::newRow("COM1") << "COM1"_ba << 1;
    QTest::newRow("COM2") << "COM2"_ba << 2;
    QTest::newRow("COM9") << "COM9"_ba << 9;
    QTest::newRow("COM10 is 10, not 1") << "COM10"_ba << 10;
    QTest::newRow("lower case") << "com1"_ba << 0;
    QTest::newRow("mixed case") << "Com3"_ba << 0;
    QTest::newRow("leading zero") << "COM01"_ba << 0;
    QTest::newRow("COM11") << "COM11"_ba << 0;
    QTest::newRow("COM0") << "COM0"_ba << 0;
    QTest::newRow("COM without number") << "COM"_ba << 0;
    QTest::newRow("blank inside quotes") << "\" COM1\""_ba << 0;
    QTest::newRow("text after the number") << "COM1x"_ba << 0;
    QTest::newRow("empty") << ""_ba << 0;
}

void TestSettings::portNumber()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, expected);

    m_ini->Write("[DoorlockOption]\r\nPortName=" + raw + "\r\n");
    TOption option(m_ini->Path);
    option.Load();
    QCOMPARE(option.PortNumber(), expected);
}

void TestSettings::portNumberFollowsSetPortName()
{
    TOption option(m_ini->Path);
    option.Load();
    option.SetPortName(u"COM10"_s);
    QCOMPARE(option.PortNumber(), 10);
    option.SetPortName(QString());
    QCOMPARE(option.PortNumber(), 0);
    option.SetPortName(u"COM3"_s);
    QCOMPARE(option.PortNumber(), 3);
}

void TestSettings::delayMinutes_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("expected");

    QTest::newRow("0x1E") << "0x1E"_ba << 30;
    QTest::newRow("$1E") << "$1E"_ba << 30;
    QTest::newRow("-15") << "-15"_ba << -15;
    QTest::newRow("abc") << "abc"_ba << 0;
    QTest::newRow("empty") << ""_ba << 0;
    QTest::newRow("overflow") << "2147483648"_ba << 0;
}

void TestSettings::delayMinutes()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, expected);

    m_ini->Write("[DoorlockOption]\r\nDelayMinutes=" + raw + "\r\nDelayMinutes2=" + raw + "\r\n");
    TSysOption sys(m_ini->Path);
    sys.Load();
    QCOMPARE(sys.DelayMinutes(), expected);
    QCOMPARE(sys.DelayMinutes2(), expected);
}

void TestSettings::useNativeDoorlockDb_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("expected");

    QTest::newRow("true, the word") << "true"_ba << false;
    QTest::newRow("yes") << "yes"_ba << false;
    QTest::newRow("2") << "2"_ba << true;
    QTest::newRow("1") << "1"_ba << true;
    QTest::newRow("-1") << "-1"_ba << true;
    QTest::newRow("0") << "0"_ba << false;
    QTest::newRow("empty") << ""_ba << false;
}

void TestSettings::useNativeDoorlockDb()
{
    QFETCH(QByteArray, raw);
    QFETCH(bool, expected);

    m_ini->Write("[DoorlockOption]\r\nUseNativeDoorlockDb=" + raw +
                 "\r\nSaveDoorlockRecord=" + raw + "\r\n");
    TSysOption sys(m_ini->Path);
    sys.Load();
    QCOMPARE(sys.UseNativeDoorlockDb(), expected);
    QCOMPARE(sys.SaveDoorlockRecord(), expected);
}

void TestSettings::emptyPasswordIsNotTheDefault()
{
    m_ini->Write("[SysOption]\r\nPassword=\r\n");
    TSysOption sys(m_ini->Path);
    sys.Load();
    QVERIFY(sys.Password().isEmpty());
}

void TestSettings::sysOptionSaveWritesAllNineKeys()
{
    m_ini->Write("; front desk 2\r\n"
                 "[DoorlockOption]\r\n"
                 "PortName=COM3\r\n"
                 "DataBasePath=C:\\\r\n"
                 "DelayMinutes=0x1E\r\n"
                 "UseNativeDoorlockDb=2\r\n"
                 "SaveDoorlockRecord=true\r\n"
                 "[SysOption]\r\n"
                 "Password=old\r\n"
                 "PolicePortNo=$10\r\n"
                 "[Database]\r\n"
                 "Driver=QPSQL\r\n");

    TSysOption sys(m_ini->Path);
    sys.Load();
    sys.SetPassword(u"新密码"_s);
    sys.Save();

    const QByteArray expected = "; front desk 2\r\n"
                                "[DoorlockOption]\r\n"
                                "PortName=COM3\r\n"
                                "DataBasePath=C:\\\r\n"
                                "DelayMinutes=30\r\n"
                                "UseNativeDoorlockDb=1\r\n"
                                "SaveDoorlockRecord=0\r\n"
                                "DelayMinutes2=0\r\n"
                                "[SysOption]\r\n"
                                "Password=" +
                                Gbk(u"新密码"_s) +
                                "\r\n"
                                "PolicePortNo=16\r\n"
                                "DoorlockPortNo=8886\r\n"
                                "MemberPortNo=8883\r\n"
                                "ScanPortNo=8881\r\n"
                                "[Database]\r\n"
                                "Driver=QPSQL\r\n";
    QCOMPARE(m_ini->Read(), expected);

    TSysOption reloaded(m_ini->Path);
    reloaded.Load();
    QCOMPARE(reloaded.Password(), u"新密码"_s);
    QCOMPARE(reloaded.PolicePortNo(), 16);
    QCOMPARE(reloaded.DelayMinutes(), 30);
    QCOMPARE(reloaded.UseNativeDoorlockDb(), true);
    QCOMPARE(reloaded.SaveDoorlockRecord(), false);
}

void TestSettings::sysOptionSaveCreatesFile()
{
    TSysOption sys(m_ini->Path);
    sys.Load();
    sys.SetPassword(QString());
    sys.Save();
    QCOMPARE(m_ini->Read(), "[SysOption]\r\n"
                            "Password=\r\n"
                            "DoorlockPortNo=8886\r\n"
                            "PolicePortNo=8885\r\n"
                            "MemberPortNo=8883\r\n"
                            "ScanPortNo=8881\r\n"
                            "[DoorlockOption]\r\n"
                            "DelayMinutes=0\r\n"
                            "DelayMinutes2=0\r\n"
                            "UseNativeDoorlockDb=0\r\n"
                            "SaveDoorlockRecord=0\r\n"_ba);

    // The empty password survives a restart.
    TSysOption reloaded(m_ini->Path);
    reloaded.Load();
    QVERIFY(reloaded.Password().isEmpty());
}

void TestSettings::optionSaveWritesOnlyItsKeys()
{
    const QByteArray head = "; front desk 2\r\n"
                            "[DoorlockOption]\n"
                            "DelayMinutes=0x1E\n"
                            "  portname = com3  \n";
    const QByteArray middle = "UseNativeDoorlockDb=true\r\n"
                              "Notes without equals sign\r\n";
    const QByteArray tail = "\r\n"
                            "[SysOption]\r\n"
                            "Password=old\r\n"
                            "[Database]\r\n"
                            "Driver=QPSQL";
    m_ini->Write(head + middle + "DataBasePath = 'D:\\db' \r\n" + tail);

    TOption option(m_ini->Path);
    option.Load();
    QCOMPARE(option.PortName(), u"com3"_s);
    option.SetPortName(u"COM3"_s);
    option.Save();

    const QByteArray newHead = "; front desk 2\r\n"
                               "[DoorlockOption]\n"
                               "DelayMinutes=0x1E\n"
                               "PortName=COM3\r\n";
    QCOMPARE(m_ini->Read(), QByteArray(newHead + middle + "DataBasePath=D:\\db\r\n" + tail));
}

void TestSettings::failedSaveKeepsFields()
{
    const QString folderPath = m_ini->Path;
    const QString missingPath = m_ini->Dir.filePath(u"missing/Option.ini"_s);
    QVERIFY(QDir().mkdir(folderPath));

    for (const QString& path : {folderPath, missingPath}) {
        TOption option(path);
        option.Load();
        option.SetPortName(u"COM5"_s);
        QCOMPARE(ErrorOf([&] { option.Save(); }), u"Unable to write to "_s + path);
        QCOMPARE(option.PortName(), u"COM5"_s);
        QCOMPARE(option.DataBasePath(), u"C:\\\\"_s);

        TSysOption sys(path);
        sys.Load();
        sys.SetPassword(u"new"_s);
        QCOMPARE(ErrorOf([&] { sys.Save(); }), u"Unable to write to "_s + path);
        QCOMPARE(sys.Password(), u"new"_s);
        QCOMPARE(sys.DoorlockPortNo(), 8886);
    }
    QVERIFY(QFileInfo(folderPath).isDir());
    QVERIFY(!QFileInfo::exists(m_ini->Dir.filePath(u"missing"_s)));
}

void TestSettings::failedSaveStopsAtTheFailingKey()
{
    const QByteArray before = "[DoorlockOption]\r\nPortName=COM1\r\nDataBasePath=C:\\\r\n"_ba;
    m_ini->Write(before);

    // A line break cannot be stored: the key before it is written, the failing one is not.
    TOption option(m_ini->Path);
    option.Load();
    option.SetPortName(u"COM2"_s);
    option.SetDataBasePath(u"D:\\a\nPortName=COM9"_s);
    QCOMPARE(ErrorOf([&] { option.Save(); }), u"Unable to write to "_s + m_ini->Path);
    QCOMPARE(m_ini->Read(), "[DoorlockOption]\r\nPortName=COM2\r\nDataBasePath=C:\\\r\n"_ba);
    QCOMPARE(option.PortName(), u"COM2"_s);
    QCOMPARE(option.DataBasePath(), u"D:\\a\nPortName=COM9"_s);

    // The password goes first, so none of the nine keys is written.
    const QByteArray unchanged = m_ini->Read();
    TSysOption sys(m_ini->Path);
    sys.Load();
    sys.SetPassword(u"pw\r\n[SysOption]"_s);
    QCOMPARE(ErrorOf([&] { sys.Save(); }), u"Unable to write to "_s + m_ini->Path);
    QCOMPARE(m_ini->Read(), unchanged);
    QCOMPARE(sys.Password(), u"pw\r\n[SysOption]"_s);
}

void TestSettings::concurrentReadersWhileTextsChange()
{
    TOption option(m_ini->Path);
    option.Load();
    TSysOption sys(m_ini->Path);
    sys.Load();

    QStringList portNames;
    for (int n = 1; n <= 10; ++n)
        portNames << u"COM"_s + QString::number(n);
    const QString passwordA = QString(64, u'a');
    const QString passwordB = u"密码"_s.repeated(40);
    sys.SetPassword(passwordA);

    std::atomic<bool> stop{false};
    std::atomic<int> started{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            started.fetch_add(1);
            while (!stop.load()) {
                const QString name = option.PortName();
                const int number = option.PortNumber();
                const QString password = sys.Password();
                if (!portNames.contains(name) || number < 1 || number > 10 ||
                    (password != passwordA && password != passwordB) || sys.DelayMinutes() != 0)
                    wrong.fetch_add(1);
            }
        });
    }
    while (started.load() < int(readers.size()))
        std::this_thread::yield();

    for (int i = 0; i < 5000; ++i) {
        option.SetPortName(portNames[i % 10]);
        sys.SetPassword(i % 2 ? passwordA : passwordB);
        if (i % 1000 == 0)
            option.Save();
    }
    stop.store(true);
    for (std::thread& reader : readers)
        reader.join();

    QCOMPARE(wrong.load(), 0);
    TOption reloaded(m_ini->Path);
    reloaded.Load();
    QVERIFY(portNames.contains(reloaded.PortName()));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
