// The operation log with real files in a fresh directory per test.

#include "DateTimeUnit.h"
#include "LogFileUnit.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// "Now" under the test's control; may be moved while other threads read it.
class TestClock : public TClock
{
public:
    explicit TestClock(TDateTime now) : m_now(now) {}
    TDateTime Now() const override { return m_now.load(); }
    int CurrentYear() const override { return 2024; }
    void Set(TDateTime now) { m_now.store(now); }

private:
    std::atomic<TDateTime> m_now;
};

} // namespace

class tst_LogFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fileNameFromDay_data();
    void fileNameFromDay();
    void constructionCreatesNothing();
    void entryIsStampTextCrLfInGbk();
    void createdWhenMissingThenAppended();
    void laterRunOfTheSameDayAppends();
    void runPastMidnightKeepsItsFile();
    void textWithLineBreaksHasOneStamp();
    void deletedFileIsCreatedAnew();
    void unwritableLogLosesEntriesSilently_data();
    void unwritableLogLosesEntriesSilently();
    void concurrentWritersKeepEntriesWholeAndInOrder();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
};

void tst_LogFile::init()
{
    m_oldDir = QDir::currentPath();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void tst_LogFile::cleanup()
{
    QDir::setCurrent(m_oldDir);
    m_dir.reset();
}

void tst_LogFile::fileNameFromDay_data()
{
    QTest::addColumn<QDate>("day");
    QTest::addColumn<QString>("name");

    QTest::newRow("ordinary day") << QDate(2024, 3, 5) << u"20240305.LOG"_s;
    QTest::newRow("end of year") << QDate(2023, 12, 31) << u"20231231.LOG"_s;
    QTest::newRow("leap day") << QDate(2024, 2, 29) << u"20240229.LOG"_s;
}

void tst_LogFile::fileNameFromDay()
{
    QFETCH(QDate, day);
    QFETCH(QString, name);

    const QString programDir = m_dir->path() + u'/';
    QCOMPARE(TLogFile::PathFor(programDir, day), programDir + name);
    const TLogFile log(TLogFile::PathFor(programDir, day));
    QCOMPARE(log.FilePath(), programDir + name);
}

void tst_LogFile::constructionCreatesNothing()
{
    {
        TLogFile log(path(u"20240305.LOG"_s));
    }
    QVERIFY(QDir(m_dir->path()).isEmpty());
}

void tst_LogFile::entryIsStampTextCrLfInGbk()
{
    const TestClock clock(DateTime::EncodeDateTime(2024, 3, 5, 14, 7, 9));
    TLogFile log(path(u"20240305.LOG"_s), clock);
    log.WriteLog(u"发卡成功,卡号为:2024030514070101"_s);

    // Byte for byte: stamp, blank, GBK text, CR LF; no byte order mark.
    const QByteArray expected = "2024-03-05 14:07:09 "
                                "\xB7\xA2\xBF\xA8\xB3\xC9\xB9\xA6,\xBF\xA8\xBA\xC5\xCE\xAA:"
                                "2024030514070101\r\n"_ba;
    QCOMPARE(Contents(log.FilePath()), expected);
}

void tst_LogFile::createdWhenMissingThenAppended()
{
    TestClock clock(DateTime::EncodeDateTime(2024, 1, 2, 3, 4, 5));
    TLogFile log(path(u"20240102.LOG"_s), clock);
    QVERIFY(!QFile::exists(log.FilePath()));

    log.WriteLog(u"one"_s);
    QCOMPARE(Contents(log.FilePath()), "2024-01-02 03:04:05 one\r\n"_ba);

    clock.Set(DateTime::EncodeDateTime(2024, 1, 2, 23, 59, 59));
    log.WriteLog(u"two"_s);
    log.WriteLog(QString());
    QCOMPARE(Contents(log.FilePath()), "2024-01-02 03:04:05 one\r\n"
                                       "2024-01-02 23:59:59 two\r\n"
                                       "2024-01-02 23:59:59 \r\n"_ba);
}

void tst_LogFile::laterRunOfTheSameDayAppends()
{
    const TestClock clock(DateTime::EncodeDateTime(2024, 3, 5, 8, 0, 0));
    const QString file = path(u"20240305.LOG"_s);
    {
        TLogFile firstRun(file, clock);
        firstRun.WriteLog(u"first run"_s);
    }
    {
        TLogFile secondRun(file, clock);
        secondRun.WriteLog(u"second run"_s);
    }
    QCOMPARE(Contents(file), "2024-03-05 08:00:00 first run\r\n"
                             "2024-03-05 08:00:00 second run\r\n"_ba);
}

void tst_LogFile::runPastMidnightKeepsItsFile()
{
    TestClock clock(DateTime::EncodeDateTime(2024, 3, 5, 23, 59, 59));
    TLogFile log(TLogFile::PathFor(m_dir->path() + u'/', QDate(2024, 3, 5)), clock);
    log.WriteLog(u"before"_s);
    clock.Set(DateTime::EncodeDateTime(2024, 3, 6, 0, 0, 1));
    log.WriteLog(u"after"_s);

    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{u"20240305.LOG"_s});
    QCOMPARE(Contents(log.FilePath()), "2024-03-05 23:59:59 before\r\n"
                                       "2024-03-06 00:00:01 after\r\n"_ba);
}

void tst_LogFile::textWithLineBreaksHasOneStamp()
{
    const TestClock clock(DateTime::EncodeDateTime(2024, 3, 5, 14, 7, 9));
    TLogFile log(path(u"20240305.LOG"_s), clock);
    log.WriteLog(u"收到消息: \r\n<Door type=\"IssueCard\">\r\n</Door>"_s);

    const QByteArray expected = "2024-03-05 14:07:09 \xCA\xD5\xB5\xBD\xCF\xFB\xCF\xA2: \r\n"
                                "<Door type=\"IssueCard\">\r\n"
                                "</Door>\r\n"_ba;
    QCOMPARE(Contents(log.FilePath()), expected);
}

void tst_LogFile::deletedFileIsCreatedAnew()
{
    const TestClock clock(DateTime::EncodeDateTime(2024, 3, 5, 14, 7, 9));
    TLogFile log(path(u"20240305.LOG"_s), clock);
    log.WriteLog(u"old"_s);
    QVERIFY(QFile::remove(log.FilePath()));

    log.WriteLog(u"new"_s);
    QCOMPARE(Contents(log.FilePath()), "2024-03-05 14:07:09 new\r\n"_ba);
}

void tst_LogFile::unwritableLogLosesEntriesSilently_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("folderInPlace");

    QTest::newRow("folder in place of the file") << u"20240305.LOG"_s << true;
    QTest::newRow("program folder missing") << u"gone/20240305.LOG"_s << false;
}

void tst_LogFile::unwritableLogLosesEntriesSilently()
{
    QFETCH(QString, file);
    QFETCH(bool, folderInPlace);

    const TestClock clock(DateTime::EncodeDateTime(2024, 3, 5, 14, 7, 9));
    TLogFile log(path(file), clock);
    if (folderInPlace)
        QVERIFY(QDir(m_dir->path()).mkdir(file));

    log.WriteLog(u"lost"_s);
    QCOMPARE(QFileInfo(path(file)).isFile(), false);

    // The next entry tries again from scratch.
    if (folderInPlace)
        QVERIFY(QDir(m_dir->path()).rmdir(file));
    else
        QVERIFY(QDir(m_dir->path()).mkdir(u"gone"_s));
    log.WriteLog(u"kept"_s);
    QCOMPARE(Contents(path(file)), "2024-03-05 14:07:09 kept\r\n"_ba);
}

void tst_LogFile::concurrentWritersKeepEntriesWholeAndInOrder()
{
    constexpr int Threads = 8;
    constexpr int Entries = 150;
    TLogFile log(path(u"20240305.LOG"_s)); // the wall clock: stamps must still never go back

    // Long entries with a line break inside make a torn or interleaved write visible.
    const QString padding(300, u'房');
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([&log, &padding, t] {
            for (int i = 0; i < Entries; ++i)
                log.WriteLog(u"T%1 E%2 %3\r\nend T%1 E%2"_s.arg(t).arg(i).arg(padding));
        });
    }
    for (std::thread& writer : writers)
        writer.join();

    QStringDecoder gbk("GBK");
    const QString text = gbk.decode(Contents(log.FilePath()));
    QVERIFY(text.endsWith(u"\r\n"_s));
    const QStringList lines = text.chopped(2).split(u"\r\n"_s);
    QCOMPARE(lines.size(), Threads * Entries * 2);

    static const QRegularExpression first(
        u"^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) T(\\d+) E(\\d+) (房+)$"_s);
    std::map<int, int> nextOfThread;
    QString previousStamp;
    for (qsizetype n = 0; n < lines.size(); n += 2) {
        const QRegularExpressionMatch match = first.match(lines[n]);
        QVERIFY2(match.hasMatch(), qPrintable(lines[n].left(80)));
        const QString stamp = match.captured(1);
        const int thread = match.captured(2).toInt();
        const int entry = match.captured(3).toInt();
        QCOMPARE(match.capturedLength(4), padding.size());
        QCOMPARE(lines[n + 1], u"end T%1 E%2"_s.arg(thread).arg(entry));
        // Each writer's entries arrive in its own order, none lost or doubled.
        QCOMPARE(entry, nextOfThread[thread]++);
        // The file's order is the order of the stamps (text order is time order here).
        QVERIFY2(stamp >= previousStamp, qPrintable(stamp + u" after "_s + previousStamp));
        previousStamp = stamp;
    }
    QCOMPARE(int(nextOfThread.size()), Threads);
    for (const auto& [thread, next] : nextOfThread)
        QCOMPARE(next, Entries);
}

QTEST_GUILESS_MAIN(tst_LogFile)
#include "tst_logfile.moc"
