// The encoder driver over the real encoder simulator, in a fresh working directory per test.

#include "CardDataUnit.h"
#include "DoorlockError.h"
#include "LogFileUnit.h"
#include "OptionUnit.h"
#include "TestFiles.h"
#include "VeltraKandorDoorlockUnit.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr std::int64_t Untouched = 42;

const TDateTime Start = DateTime::EncodeDateTime(2024, 3, 1, 12, 0, 0);
const TDateTime End = DateTime::EncodeDateTime(2024, 3, 5, 14, 7, 59);

QList<QByteArray> JournalLines()
{
    QFile file(u"CardWR.journal"_s);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    lines.removeLast();
    for (QByteArray& line : lines)
        line.chop(1);
    return lines;
}

} // namespace

class tst_VeltraKandorDoorlock : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void splitText_data();
    void splitText();
    void readFirstLine_data();
    void readFirstLine();
    void readFirstLineOfMissingOrUnreadableFile();

    void writeReadBackAndErase();
    void writeArguments_data();
    void writeArguments();
    void portIsTakenAtEveryCall();
    void failedWrite_data();
    void failedWrite();
    void roomThatCannotFormCardNumberWritesNothing_data();
    void roomThatCannotFormCardNumberWritesNothing();
    void failedReadLogsPreviousLine();
    void failedErase();
    void cardLine_data();
    void cardLine();
    void missingCardDataFile_data();
    void missingCardDataFile();
    void trivialOperations();
    void baseDeviceAnswersFalse();
    void concurrentCardOperations();

private:
    bool write(const QString& room, std::int64_t& cardNo, bool isCopy = false, TDateTime end = End);
    QStringList logTexts() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
    std::unique_ptr<TOption> m_option;
    std::unique_ptr<TLogFile> m_log;
    std::unique_ptr<TVeltraKandorDoorlock> m_lock;
};

void tst_VeltraKandorDoorlock::initTestCase()
{
    // As the running program does when its main window is created.
    DateTime::FixProcessFormats(TFormatSettings::Fixed());
}

void tst_VeltraKandorDoorlock::init()
{
    m_oldDir = QDir::currentPath();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_option = std::make_unique<TOption>(m_dir->filePath(u"Option.ini"_s));
    m_option->SetPortName(u"COM3"_s);
    m_log = std::make_unique<TLogFile>(m_dir->filePath(u"20240305.LOG"_s));
    m_lock = std::make_unique<TVeltraKandorDoorlock>(*m_option, *m_log);
}

void tst_VeltraKandorDoorlock::cleanup()
{
    m_lock.reset();
    m_log.reset();
    m_option.reset();
    QDir::setCurrent(m_oldDir);
    m_dir.reset();
}

bool tst_VeltraKandorDoorlock::write(const QString& room, std::int64_t& cardNo, bool isCopy,
                                     TDateTime end)
{
    return m_lock->WriteCard(u"R0001"_s, u"A"_s, u"3"_s, room, u"张三"_s, Start, Start, end, end,
                             isCopy, cardNo);
}

// The log's entry texts, each checked for its stamp.
QStringList tst_VeltraKandorDoorlock::logTexts() const
{
    QStringDecoder gbk("GBK");
    const QString text = gbk.decode(Contents(m_log->FilePath()));
    if (text == u"<missing>"_s)
        return {};
    static const QRegularExpression stamp(u"^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "_s);
    QStringList texts;
    for (const QString& line : text.chopped(2).split(u"\r\n"_s)) {
        if (!stamp.match(line).hasMatch())
            return {u"<no stamp> "_s + line};
        texts.append(line.mid(20));
    }
    return texts;
}

void tst_VeltraKandorDoorlock::splitText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("pieces");

    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("no separator") << u"abc"_s << QStringList{u"abc"_s};
    QTest::newRow("three fields") << u"0101+x+2024-03-05 14:07:00"_s
                                  << QStringList{u"0101"_s, u"x"_s, u"2024-03-05 14:07:00"_s};
    QTest::newRow("adjacent separators") << u"a++b"_s << QStringList{u"a"_s, QString(), u"b"_s};
    QTest::newRow("trailing separator") << u"a+"_s << QStringList{u"a"_s, QString()};
    QTest::newRow("leading separator") << u"+a"_s << QStringList{QString(), u"a"_s};
    QTest::newRow("separator alone") << u"+"_s << QStringList{QString(), QString()};
    QTest::newRow("blanks kept") << u" a + b "_s << QStringList{u" a "_s, u" b "_s};
}

void tst_VeltraKandorDoorlock::splitText()
{
    QFETCH(QString, text);
    QFETCH(QStringList, pieces);

    QCOMPARE(CardData::SplitText(text, u'+'), pieces);
}

void tst_VeltraKandorDoorlock::readFirstLine_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line");

    QTest::newRow("CR LF") << "first\r\nsecond\r\n"_ba << u"first"_s;
    QTest::newRow("LF") << "first\nsecond"_ba << u"first"_s;
    QTest::newRow("CR") << "first\rsecond"_ba << u"first"_s;
    QTest::newRow("no line break") << "only"_ba << u"only"_s;
    QTest::newRow("empty file") << QByteArray() << QString();
    QTest::newRow("empty first line") << "\r\nsecond"_ba << QString();
    QTest::newRow("GBK text") << "\xB7\xBF\xBC\xE4+1\r\n"_ba << u"房间+1"_s;
}

void tst_VeltraKandorDoorlock::readFirstLine()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);

    Put(u"R_card.txt"_s, bytes);
    QCOMPARE(CardData::ReadFirstLine(u"R_card.txt"_s), line);
}

void tst_VeltraKandorDoorlock::readFirstLineOfMissingOrUnreadableFile()
{
    QVERIFY_THROWS_EXCEPTION(DoorlockError, CardData::ReadFirstLine(u"R_card.txt"_s));
    QVERIFY(QDir().mkdir(u"R_card.txt"_s));
    QVERIFY_THROWS_EXCEPTION(DoorlockError, CardData::ReadFirstLine(u"R_card.txt"_s));
}

void tst_VeltraKandorDoorlock::writeReadBackAndErase()
{
    std::int64_t written = Untouched;
    QVERIFY(write(u"0101"_s, written));
    QCOMPARE(written, 2024030514070101);

    std::int64_t read = Untouched;
    QVERIFY(m_lock->ReadCard(read));
    QCOMPARE(read, written);
    QCOMPARE(m_lock->CardDataLine(), u"0101+1+2024-03-05 14:07:00"_s);

    QVERIFY(m_lock->EraseCard());
    read = Untouched;
    QVERIFY(!m_lock->ReadCard(read));
    QCOMPARE(read, Untouched);

    QCOMPARE(logTexts(), (QStringList{
                             u"发卡成功,卡号为:2024030514070101"_s,
                             u"Data="_s,
                             u"Data=0101+1+2024-03-05 14:07:00"_s,
                             u"读卡成功,卡号为:2024030514070101"_s,
                             u"注销成功"_s,
                             u"Data=0101+1+2024-03-05 14:07:00"_s,
                             u"读卡失败0101+1+2024-03-05 14:07:00"_s,
                         }));
    QCOMPARE(JournalLines(), (QList<QByteArray>{
                                 "W_Card|3|0101|000000000000|202403051407|1|1|0|7319|1|1"_ba,
                                 "R_Card|3|1"_ba,
                                 "L_Card|3|1"_ba,
                                 "R_Card|3|-3"_ba,
                             }));
}

void tst_VeltraKandorDoorlock::writeArguments_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("room");
    QTest::addColumn<bool>("isCopy");
    QTest::addColumn<TDateTime>("endDate");
    QTest::addColumn<TDateTime>("endTime");
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<std::int64_t>("cardNo");

    QTest::newRow("new card on COM3") << u"COM3"_s << u"0101"_s << false << End << End
                                      << "W_Card|3|0101|000000000000|202403051407|1|1|0|7319|1|1"_ba
                                      << std::int64_t(2024030514070101);
    QTest::newRow("copy card") << u"COM3"_s << u"0101"_s << true << End << End
                               << "W_Card|3|0101|000000000000|202403051407|1|1|0|7319|0|1"_ba
                               << std::int64_t(2024030514070101);
    QTest::newRow("COM1") << u"COM1"_s << u"0101"_s << false << End << End
                          << "W_Card|1|0101|000000000000|202403051407|1|1|0|7319|1|1"_ba
                          << std::int64_t(2024030514070101);
    QTest::newRow("COM10 is 10, not 1")
        << u"COM10"_s << u"0101"_s << false << End << End
        << "W_Card|10|0101|000000000000|202403051407|1|1|0|7319|1|1"_ba
        << std::int64_t(2024030514070101);
    const TDateTime lateEnd = DateTime::EncodeDateTime(2024, 3, 5, 23, 59, 59);
    QTest::newRow("23:59:59 drops the seconds")
        << u"COM3"_s << u"0101"_s << false << lateEnd << lateEnd
        << "W_Card|3|0101|000000000000|202403052359|1|1|0|7319|1|1"_ba
        << std::int64_t(2024030523590101);
    QTest::newRow("date from EndDate, time from EndTime")
        << u"COM3"_s << u"0101"_s << false << DateTime::EncodeDateTime(2024, 3, 5, 8, 30, 0)
        << DateTime::EncodeDateTime(2031, 12, 31, 6, 5, 0)
        << "W_Card|3|0101|000000000000|202403050605|1|1|0|7319|1|1"_ba
        << std::int64_t(2024030506050101);
    QTest::newRow("empty room: twelve digits")
        << u"COM3"_s << QString() << false << End << End
        << "W_Card|3||000000000000|202403051407|1|1|0|7319|1|1"_ba << std::int64_t(202403051407);
    QTest::newRow("seven-digit room still fits")
        << u"COM3"_s << u"9999999"_s << false << End << End
        << "W_Card|3|9999999|000000000000|202403051407|1|1|0|7319|1|1"_ba
        << std::int64_t(2024030514079999999);
}

void tst_VeltraKandorDoorlock::writeArguments()
{
    QFETCH(QString, portName);
    QFETCH(QString, room);
    QFETCH(bool, isCopy);
    QFETCH(TDateTime, endDate);
    QFETCH(TDateTime, endTime);
    QFETCH(QByteArray, journal);
    QFETCH(std::int64_t, cardNo);

    m_option->SetPortName(portName);
    std::int64_t written = Untouched;
    QVERIFY(m_lock->WriteCard(QString(), QString(), QString(), room, QString(), Start, Start,
                              endDate, endTime, isCopy, written));
    QCOMPARE(written, cardNo);
    QCOMPARE(JournalLines(), QList<QByteArray>{journal});
    QCOMPARE(logTexts(), QStringList{u"发卡成功,卡号为:"_s + QString::number(cardNo)});

    // What was written reads back as the same number.
    std::int64_t read = Untouched;
    QVERIFY(m_lock->ReadCard(read));
    QCOMPARE(read, cardNo);
}

void tst_VeltraKandorDoorlock::portIsTakenAtEveryCall()
{
    std::int64_t cardNo = Untouched;
    QVERIFY(write(u"0101"_s, cardNo));
    m_option->SetPortName(u"COM7"_s);
    QVERIFY(m_lock->ReadCard(cardNo));
    m_option->SetPortName(u"COM9"_s);
    QVERIFY(m_lock->EraseCard());
    QCOMPARE(JournalLines(), (QList<QByteArray>{
                                 "W_Card|3|0101|000000000000|202403051407|1|1|0|7319|1|1"_ba,
                                 "R_Card|7|1"_ba,
                                 "L_Card|9|1"_ba,
                             }));
}

void tst_VeltraKandorDoorlock::failedWrite_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("encoder answers 0") << u"COM3"_s << "Result=0"_ba << u"发卡失败0"_s;
    QTest::newRow("no card on the encoder") << u"COM3"_s << "CardPresent=0"_ba << u"发卡失败-2"_s;
    QTest::newRow("unknown failure code") << u"COM3"_s << "Result=-7"_ba << u"发卡失败-7"_s;
    QTest::newRow("port name outside COM1 to COM10")
        << u"COM11"_s << QByteArray() << u"发卡失败-1"_s;
    QTest::newRow("port name that is no COM port") << u"LPT1"_s << QByteArray() << u"发卡失败-1"_s;
}

void tst_VeltraKandorDoorlock::failedWrite()
{
    QFETCH(QString, portName);
    QFETCH(QByteArray, settings);
    QFETCH(QString, logLine);

    m_option->SetPortName(portName);
    if (!settings.isEmpty())
        EncoderSettings(settings);
    std::int64_t cardNo = Untouched;
    QVERIFY(!write(u"0101"_s, cardNo));
    QCOMPARE(cardNo, Untouched);
    QCOMPARE(logTexts(), QStringList{logLine});
    QCOMPARE(JournalLines().size(), 1);
    QCOMPARE(Contents(u"EncoderCard.txt"_s), "<missing>"_ba);
}

void tst_VeltraKandorDoorlock::roomThatCannotFormCardNumberWritesNothing_data()
{
    QTest::addColumn<QString>("room");
    QTest::addColumn<TDateTime>("end");

    QTest::newRow("letter") << u"01A"_s << End;
    QTest::newRow("eight digits") << u"12345678"_s << End;
    QTest::newRow("blank inside") << u"01 01"_s << End;
    QTest::newRow("trailing blank") << u"0101 "_s << End;
    QTest::newRow("sign") << u"-101"_s << End;
    QTest::newRow("full-width digits") << u"０１０１"_s << End;
    QTest::newRow("Chinese") << u"一楼"_s << End;
    QTest::newRow("plus") << u"01+x"_s << End;
    // Seven digits fit in most years, but not after the year 9223.
    QTest::newRow("seven digits, late year")
        << u"1234567"_s << DateTime::EncodeDateTime(9999, 12, 31, 23, 59, 0);
}

void tst_VeltraKandorDoorlock::roomThatCannotFormCardNumberWritesNothing()
{
    QFETCH(QString, room);
    QFETCH(TDateTime, end);

    // A card already lies on the encoder; the refused write must not touch it.
    std::int64_t cardNo = Untouched;
    QVERIFY(write(u"0101"_s, cardNo));
    const QByteArray card = Contents(u"EncoderCard.txt"_s);
    const QList<QByteArray> journal = JournalLines();

    cardNo = Untouched;
    QVERIFY(!write(room, cardNo, false, end));
    QCOMPARE(cardNo, Untouched);
    QCOMPARE(logTexts().constLast(), u"发卡失败,房号无法构成卡号:"_s + room);
    QCOMPARE(logTexts().size(), 2);
    QCOMPARE(JournalLines(), journal);
    QCOMPARE(Contents(u"EncoderCard.txt"_s), card);
}

void tst_VeltraKandorDoorlock::failedReadLogsPreviousLine()
{
    // Before any reading the previous line is empty.
    std::int64_t cardNo = Untouched;
    QVERIFY(!m_lock->ReadCard(cardNo));
    QCOMPARE(logTexts(), (QStringList{u"Data="_s, u"读卡失败"_s}));

    QVERIFY(write(u"0101"_s, cardNo));
    QVERIFY(m_lock->ReadCard(cardNo));
    EncoderSettings("CardPresent=0");
    cardNo = Untouched;
    QVERIFY(!m_lock->ReadCard(cardNo));
    QCOMPARE(cardNo, Untouched);
    QCOMPARE(m_lock->CardDataLine(), u"0101+1+2024-03-05 14:07:00"_s);

    EncoderSettings("Result=0");
    QVERIFY(!m_lock->ReadCard(cardNo));
    QCOMPARE(logTexts().mid(6), (QStringList{
                                    u"Data=0101+1+2024-03-05 14:07:00"_s,
                                    u"读卡失败0101+1+2024-03-05 14:07:00"_s,
                                    u"Data=0101+1+2024-03-05 14:07:00"_s,
                                    u"读卡失败0101+1+2024-03-05 14:07:00"_s,
                                }));
}

void tst_VeltraKandorDoorlock::failedErase()
{
    EncoderSettings("CardPresent=0");
    QVERIFY(!m_lock->EraseCard());
    m_option->SetPortName(u"COM0"_s);
    QVERIFY(QFile::remove(u"VeltraQuillon.ini"_s));
    QVERIFY(!m_lock->EraseCard());
    QCOMPARE(logTexts(), (QStringList{u"注销失败"_s, u"注销失败"_s}));
    QCOMPARE(JournalLines(), (QList<QByteArray>{"L_Card|3|-2"_ba, "L_Card|0|-1"_ba}));
}

void tst_VeltraKandorDoorlock::cardLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<std::int64_t>("cardNo");

    const auto good = [](const char* name, const QString& line, std::int64_t cardNo) {
        QTest::newRow(name) << line << true << cardNo;
    };
    const auto bad = [](const char* name, const QString& line) {
        QTest::newRow(name) << line << false << std::int64_t(0);
    };
    good("three fields", u"0101+x+2024-03-05 14:07:00"_s, 2024030514070101);
    good("more fields", u"0101+x+2024-03-05 14:07:00+more"_s, 2024030514070101);
    good("no seconds", u"0101+x+2024-03-05 14:07"_s, 2024030514070101);
    good("seconds dropped", u"0101+x+2024-03-05 14:07:59"_s, 2024030514070101);
    good("empty field 1", u"0101++2024-03-05 14:07:00"_s, 2024030514070101);
    good("empty field 0", u"+x+2024-03-05 14:07:00"_s, 202403051407);
    good("seven-digit room", u"1234567+x+2024-03-05 14:07:00"_s, 2024030514071234567);
    bad("two fields", u"0101+2024-03-05 14:07:00"_s);
    bad("one field", u"0101"_s);
    bad("empty line", QString());
    bad("month 13", u"0101+x+2024-13-05 14:07:00"_s);
    bad("not a date", u"0101+x+yesterday"_s);
    bad("empty date", u"0101+x+"_s);
    bad("letter in field 0", u"01A+x+2024-03-05 14:07:00"_s);
    bad("blank before field 0", u" 0101+x+2024-03-05 14:07:00"_s);
    bad("sign in field 0", u"-101+x+2024-03-05 14:07:00"_s);
    bad("number too large", u"12345678+x+2024-03-05 14:07:00"_s);
}

void tst_VeltraKandorDoorlock::cardLine()
{
    QFETCH(QString, line);
    QFETCH(bool, valid);
    QFETCH(std::int64_t, cardNo);

    std::int64_t written = Untouched;
    QVERIFY(write(u"0101"_s, written));
    // Quoted, so that blanks at either end reach R_card.txt.
    EncoderSettings("CardLine=\"" + line.toUtf8() + "\"");

    std::int64_t read = Untouched;
    if (valid) {
        QVERIFY(m_lock->ReadCard(read));
        QCOMPARE(read, cardNo);
        QCOMPARE(logTexts().constLast(), u"读卡成功,卡号为:"_s + QString::number(cardNo));
    } else {
        QVERIFY_THROWS_EXCEPTION(DoorlockError, m_lock->ReadCard(read));
        QCOMPARE(read, Untouched);
        // The two "Data=" lines and nothing after them.
        QCOMPARE(logTexts().mid(1), (QStringList{u"Data="_s, u"Data="_s + line}));
    }
    QCOMPARE(m_lock->CardDataLine(), line);
}

void tst_VeltraKandorDoorlock::missingCardDataFile_data()
{
    QTest::addColumn<bool>("folderInPlace");

    QTest::newRow("no R_card.txt") << false;
    QTest::newRow("folder in place of R_card.txt") << true;
}

void tst_VeltraKandorDoorlock::missingCardDataFile()
{
    QFETCH(bool, folderInPlace);

    // The encoder reports success without leaving its file.
    EncoderSettings("Result=1");
    if (folderInPlace)
        QVERIFY(QDir().mkdir(u"R_card.txt"_s));
    std::int64_t cardNo = Untouched;
    QVERIFY_THROWS_EXCEPTION(DoorlockError, m_lock->ReadCard(cardNo));
    QCOMPARE(cardNo, Untouched);
    QCOMPARE(logTexts(), QStringList{u"Data="_s});
    QCOMPARE(m_lock->CardDataLine(), QString());
}

void tst_VeltraKandorDoorlock::trivialOperations()
{
    QVERIFY(m_lock->OpenPort());
    m_lock->Beep();
    QVERIFY(m_lock->ClosePort());
    m_lock->ShowOptions(); // no dialog handed in: nothing happens

    int shown = 0;
    m_lock->SetOptionsDialog([&shown] { ++shown; });
    m_lock->ShowOptions();
    QCOMPARE(shown, 1);

    // None of them reaches the encoder or the log.
    QCOMPARE(JournalLines(), QList<QByteArray>());
    QCOMPARE(logTexts(), QStringList());
}

void tst_VeltraKandorDoorlock::baseDeviceAnswersFalse()
{
    TBaseDoorlock base;
    std::int64_t cardNo = Untouched;
    QVERIFY(!base.WriteCard(u"R0001"_s, u"A"_s, u"3"_s, u"0101"_s, u"张三"_s, Start, Start, End,
                            End, false, cardNo));
    QCOMPARE(cardNo, Untouched);
    QVERIFY(!base.ReadCard(cardNo));
    QCOMPARE(cardNo, Untouched);
    QVERIFY(!base.EraseCard());
    QVERIFY(!base.OpenPort());
    QVERIFY(!base.ClosePort());
    base.Beep();
    base.ShowOptions();
    QCOMPARE(JournalLines(), QList<QByteArray>());
}

void tst_VeltraKandorDoorlock::concurrentCardOperations()
{
    constexpr int Threads = 4;
    constexpr int Rounds = 20;
    std::atomic<int> failures = 0;
    std::vector<std::int64_t> readNumbers[Threads];
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([this, t, &failures, &readNumbers] {
            const QString room = u"0%1"_s.arg(t + 1);
            for (int i = 0; i < Rounds; ++i) {
                std::int64_t cardNo = 0;
                if (!write(room, cardNo) || !m_lock->ReadCard(cardNo))
                    failures.fetch_add(1);
                readNumbers[t].push_back(cardNo);
                (void)m_lock->CardDataLine();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(failures.load(), 0);

    // Another thread may have written in between, but every read is one of the written cards.
    const std::set<std::int64_t> written = {202403051407'01, 202403051407'02, 202403051407'03,
                                            202403051407'04};
    for (const auto& numbers : readNumbers)
        for (const std::int64_t number : numbers)
            QVERIFY(written.count(number) == 1);
    const QStringList texts = logTexts();
    QCOMPARE(texts.size(), Threads * Rounds * 4);
    QCOMPARE(JournalLines().size(), Threads * Rounds * 2);
}

QTEST_GUILESS_MAIN(tst_VeltraKandorDoorlock)
#include "tst_veltrakandordoorlock.moc"
