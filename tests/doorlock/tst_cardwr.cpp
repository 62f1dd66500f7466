// The encoder simulator through its three C functions, in a fresh working directory per test.

#include "CardWR.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString CardFile = u"EncoderCard.txt"_s;
const QString ReadFile = u"R_card.txt"_s;
const QString JournalFile = u"CardWR.journal"_s;
const QString SettingsFile = u"VeltraQuillon.ini"_s;

// The journal's lines without their CR LF; a line that lacks the CR shows it.
QList<QByteArray> JournalLines()
{
    QFile file(JournalFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.constLast().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        else
            line += "<no CR>";
    }
    return lines;
}

// W_Card with the arguments the program sends, any of which a row may replace.
struct WriteArgs
{
    const char* port = "3";
    const char* room = "0101";
    const char* zeros = "000000000000";
    const char* stamp = "202403051407";
    const char* a5 = "1";
    const char* a6 = "1";
    const char* a7 = "0";
    const char* code = "7319";
    const char* kind = "1";

    int call() const { return W_Card(port, room, zeros, stamp, a5, a6, a7, code, kind); }
};

} // namespace

class tst_CardWR : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void writeReadBackAndErase();
    void roomBytesAreStoredAsTheyCome();
    void emptyRoomIsAccepted();
    void portText_data();
    void portText();
    void malformedWrite_data();
    void malformedWrite();
    void nullPortIsMalformed();
    void noCardOnTheEncoder();
    void blankCard_data();
    void blankCard();
    void eraseOfBlankCardSucceeds();
    void handWrittenCardIsReportedAsItStands();
    void resultOverrideChangesNothing_data();
    void resultOverrideChangesNothing();
    void cardLineOverride_data();
    void cardLineOverride();
    void settingsRules_data();
    void settingsRules();
    void delayDoesNotChangeResults();
    void unwritableFilesGiveZero_data();
    void unwritableFilesGiveZero();
    void journalEscapesSeparators();
    void concurrentCallsAreServedOneByOne();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
};

void tst_CardWR::init()
{
    m_oldDir = QDir::currentPath();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void tst_CardWR::cleanup()
{
    QDir::setCurrent(m_oldDir);
    m_dir.reset();
}

void tst_CardWR::writeReadBackAndErase()
{
    QCOMPARE(WriteArgs{}.call(), 1);
    QCOMPARE(Contents(CardFile), "0101+1+2024-03-05 14:07:00\r\n"_ba);

    QCOMPARE(R_Card("3"), 1);
    QCOMPARE(Contents(ReadFile), "0101+1+2024-03-05 14:07:00\r\n"_ba);

    WriteArgs copy;
    copy.room = "0815";
    copy.stamp = "203112312359";
    copy.kind = "0";
    copy.port = "10";
    QCOMPARE(copy.call(), 1);
    QCOMPARE(R_Card("10"), 1);
    QCOMPARE(Contents(ReadFile), "0815+0+2031-12-31 23:59:00\r\n"_ba);

    QCOMPARE(L_Card("1"), 1);
    QCOMPARE(Contents(CardFile), QByteArray());
    QCOMPARE(R_Card("1"), -3);
    QCOMPARE(Contents(ReadFile), "0815+0+2031-12-31 23:59:00\r\n"_ba);

    QCOMPARE(JournalLines(), (QList<QByteArray>{
                                 "W_Card|3|0101|000000000000|202403051407|1|1|0|7319|1|1"_ba,
                                 "R_Card|3|1"_ba,
                                 "W_Card|10|0815|000000000000|203112312359|1|1|0|7319|0|1"_ba,
                                 "R_Card|10|1"_ba,
                                 "L_Card|1|1"_ba,
                                 "R_Card|1|-3"_ba,
                             }));
    QVERIFY(Contents(JournalFile).endsWith("R_Card|1|-3\r\n"));
}

void tst_CardWR::roomBytesAreStoredAsTheyCome()
{
    // "房101" in GBK: the library is byte-transparent.
    WriteArgs args;
    args.room = "\xB7\xBF"
                "101";
    QCOMPARE(args.call(), 1);
    QCOMPARE(R_Card("3"), 1);
    QCOMPARE(Contents(ReadFile), "\xB7\xBF"
                                 "101+1+2024-03-05 14:07:00\r\n"_ba);
}

void tst_CardWR::emptyRoomIsAccepted()
{
    WriteArgs args;
    args.room = "";
    QCOMPARE(args.call(), 1);
    QCOMPARE(R_Card("3"), 1);
    QCOMPARE(Contents(ReadFile), "+1+2024-03-05 14:07:00\r\n"_ba);
}

void tst_CardWR::portText_data()
{
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<int>("expected");

    QTest::newRow("1") << "1"_ba << 1;
    QTest::newRow("9") << "9"_ba << 1;
    QTest::newRow("10") << "10"_ba << 1;
    QTest::newRow("0") << "0"_ba << -1;
    QTest::newRow("11") << "11"_ba << -1;
    QTest::newRow("abc") << "abc"_ba << -1;
    QTest::newRow("empty") << QByteArray("") << -1;
    QTest::newRow("leading zero") << "03"_ba << -1;
    QTest::newRow("leading blank") << " 3"_ba << -1;
    QTest::newRow("sign") << "+3"_ba << -1;
    QTest::newRow("negative") << "-1"_ba << -1;
    QTest::newRow("COM3") << "COM3"_ba << -1;
}

void tst_CardWR::portText()
{
    QFETCH(QByteArray, port);
    QFETCH(int, expected);

    WriteArgs args;
    args.port = port.constData();
    QCOMPARE(args.call(), expected);
    QCOMPARE(R_Card(port.constData()), expected);
    QCOMPARE(L_Card(port.constData()), expected);
    if (expected != 1) {
        QCOMPARE(Contents(CardFile), "<missing>"_ba);
        QCOMPARE(Contents(ReadFile), "<missing>"_ba);
    }
    const QByteArray tail = "|" + port + "|" + QByteArray::number(expected);
    const QList<QByteArray> lines = JournalLines();
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].endsWith(QByteArray("|1|" + QByteArray::number(expected))));
    QCOMPARE(lines[1], "R_Card" + tail);
    QCOMPARE(lines[2], "L_Card" + tail);
}

void tst_CardWR::malformedWrite_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("isNull");
    QTest::addColumn<int>("expected");

    const auto row = [](const char* name, const char* field, const char* value, int expected) {
        QTest::newRow(name) << QByteArray(field) << QByteArray(value) << false << expected;
    };
    row("room with plus", "room", "01+01", 0);
    row("room with LF", "room", "01\n01", 0);
    row("room with CR", "room", "0101\r", 0);
    row("room with blank", "room", "01 01", 1);
    row("room with letters", "room", "01A", 1);
    row("stamp of 11 digits", "stamp", "20240305140", 0);
    row("stamp of 13 digits", "stamp", "2024030514070", 0);
    row("stamp with letter", "stamp", "2024O3051407", 0);
    row("stamp with separators", "stamp", "2024-03-05 1", 0);
    row("stamp empty", "stamp", "", 0);
    row("year 0000", "stamp", "000001011200", 0);
    row("year 0001", "stamp", "000101010000", 1);
    row("year 9999", "stamp", "999912312359", 1);
    row("month 00", "stamp", "202400051407", 0);
    row("month 13", "stamp", "202413051407", 0);
    row("day 00", "stamp", "202403001407", 0);
    row("day 32", "stamp", "202401321407", 0);
    row("April 31", "stamp", "202404311407", 0);
    row("Feb 29 of leap 2024", "stamp", "202402291407", 1);
    row("Feb 29 of 2023", "stamp", "202302291407", 0);
    row("Feb 29 of 1900", "stamp", "190002291407", 0);
    row("Feb 29 of 2000", "stamp", "200002291407", 1);
    row("Feb 30 of 2024", "stamp", "202402301407", 0);
    row("hour 24", "stamp", "202403052400", 0);
    row("minute 60", "stamp", "202403051460", 0);
    row("midnight", "stamp", "202403050000", 1);
    row("kind 2", "kind", "2", 0);
    row("kind empty", "kind", "", 0);
    row("kind 00", "kind", "00", 0);
    row("kind 0", "kind", "0", 1);
    row("other arguments are free", "zeros", "x", 1);
    QTest::newRow("null room") << "room"_ba << QByteArray() << true << 0;
    QTest::newRow("null stamp") << "stamp"_ba << QByteArray() << true << 0;
    QTest::newRow("null zeros") << "zeros"_ba << QByteArray() << true << 0;
    QTest::newRow("null code") << "code"_ba << QByteArray() << true << 0;
    QTest::newRow("null port") << "port"_ba << QByteArray() << true << 0;
    QTest::newRow("null kind") << "kind"_ba << QByteArray() << true << 0;
}

void tst_CardWR::malformedWrite()
{
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, value);
    QFETCH(bool, isNull);
    QFETCH(int, expected);

    // A card already on the encoder must survive a refused write.
    QCOMPARE(WriteArgs{}.call(), 1);
    const QByteArray before = Contents(CardFile);

    WriteArgs args;
    const char* text = isNull ? nullptr : value.constData();
    if (field == "room")
        args.room = text;
    else if (field == "stamp")
        args.stamp = text;
    else if (field == "kind")
        args.kind = text;
    else if (field == "zeros")
        args.zeros = text;
    else if (field == "code")
        args.code = text;
    else if (field == "port")
        args.port = text;
    QCOMPARE(args.call(), expected);
    if (expected != 1)
        QCOMPARE(Contents(CardFile), before);
    QVERIFY(JournalLines().constLast().endsWith(QByteArray("|" + QByteArray::number(expected))));
    if (isNull)
        QVERIFY(JournalLines().constLast().contains("|\\N|"));
}

void tst_CardWR::nullPortIsMalformed()
{
    QCOMPARE(R_Card(nullptr), 0);
    QCOMPARE(L_Card(nullptr), 0);
    QCOMPARE(JournalLines(), (QList<QByteArray>{"R_Card|\\N|0"_ba, "L_Card|\\N|0"_ba}));
}

void tst_CardWR::noCardOnTheEncoder()
{
    QCOMPARE(WriteArgs{}.call(), 1);
    QCOMPARE(R_Card("3"), 1);
    const QByteArray card = Contents(CardFile);
    const QByteArray read = Contents(ReadFile);

    Put(SettingsFile, "[Encoder]\r\nCardPresent=0\r\n");
    WriteArgs other;
    other.room = "0202";
    QCOMPARE(other.call(), -2);
    QCOMPARE(R_Card("3"), -2);
    QCOMPARE(L_Card("3"), -2);
    QCOMPARE(Contents(CardFile), card);
    QCOMPARE(Contents(ReadFile), read);

    // The port is checked before the slot.
    QCOMPARE(R_Card("0"), -1);

    // Settings are read at every call: the card is back.
    QVERIFY(QFile::remove(SettingsFile));
    QCOMPARE(R_Card("3"), 1);
    QCOMPARE(Contents(ReadFile), "0101+1+2024-03-05 14:07:00\r\n"_ba);
}

void tst_CardWR::blankCard_data()
{
    QTest::addColumn<QByteArray>("card");
    QTest::addColumn<bool>("present");

    QTest::newRow("no card file") << QByteArray() << false;
    QTest::newRow("empty card file") << QByteArray() << true;
    QTest::newRow("empty first line") << "\r\n0101+1+2024-03-05 14:07:00\r\n"_ba << true;
}

void tst_CardWR::blankCard()
{
    QFETCH(QByteArray, card);
    QFETCH(bool, present);

    if (present)
        Put(CardFile, card);
    Put(ReadFile, "old line\r\n");
    QCOMPARE(R_Card("3"), -3);
    QCOMPARE(Contents(ReadFile), "old line\r\n"_ba);
    QCOMPARE(JournalLines(), QList<QByteArray>{"R_Card|3|-3"_ba});
}

void tst_CardWR::eraseOfBlankCardSucceeds()
{
    QCOMPARE(L_Card("3"), 1);
    QCOMPARE(Contents(CardFile), QByteArray());
    QCOMPARE(R_Card("3"), -3);
}

void tst_CardWR::handWrittenCardIsReportedAsItStands()
{
    Put(CardFile, "any text+x\nsecond line\n");
    QCOMPARE(R_Card("3"), 1);
    QCOMPARE(Contents(ReadFile), "any text+x\r\n"_ba);
}

void tst_CardWR::resultOverrideChangesNothing_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected");

    QTest::newRow("failure code") << "-5"_ba << -5;
    QTest::newRow("zero") << "0"_ba << 0;
    // Success without doing anything: how a test makes R_card.txt go missing.
    QTest::newRow("success") << "1"_ba << 1;
    QTest::newRow("large") << "2147483647"_ba << 2147483647;
}

void tst_CardWR::resultOverrideChangesNothing()
{
    QFETCH(QByteArray, value);
    QFETCH(int, expected);

    QCOMPARE(WriteArgs{}.call(), 1);
    const QByteArray card = Contents(CardFile);

    Put(SettingsFile, "[Encoder]\nResult=" + value + "\n");
    WriteArgs other;
    other.room = "0202";
    QCOMPARE(other.call(), expected);
    QCOMPARE(R_Card("3"), expected);
    QCOMPARE(L_Card("3"), expected);
    // Arguments are not even looked at.
    QCOMPARE(R_Card("abc"), expected);
    QCOMPARE(R_Card(nullptr), expected);

    QCOMPARE(Contents(CardFile), card);
    QCOMPARE(Contents(ReadFile), "<missing>"_ba);
    const QByteArray r = QByteArray::number(expected);
    QCOMPARE(JournalLines(), (QList<QByteArray>{
                                 "W_Card|3|0101|000000000000|202403051407|1|1|0|7319|1|1"_ba,
                                 "W_Card|3|0202|000000000000|202403051407|1|1|0|7319|1|" + r,
                                 "R_Card|3|" + r,
                                 "L_Card|3|" + r,
                                 "R_Card|abc|" + r,
                                 "R_Card|\\N|" + r,
                             }));
}

void tst_CardWR::cardLineOverride_data()
{
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("three fields") << "CardLine=0101+x+2024-03-05 14:07:00"_ba
                                  << "0101+x+2024-03-05 14:07:00"_ba;
    QTest::newRow("two fields") << "CardLine=0101+2024-03-05 14:07:00"_ba
                                << "0101+2024-03-05 14:07:00"_ba;
    QTest::newRow("empty") << "CardLine="_ba << QByteArray("");
    QTest::newRow("blanks around") << "CardLine =  a+b+c  "_ba
                                   << "a+b+c"_ba;
    QTest::newRow("quoted keeps blanks") << "CardLine=\" a+b \""_ba
                                         << " a+b "_ba;
    QTest::newRow("GBK bytes") << "CardLine=\xB7\xBF+1+2024-03-05 14:07:00"_ba
                               << "\xB7\xBF+1+2024-03-05 14:07:00"_ba;
}

void tst_CardWR::cardLineOverride()
{
    QFETCH(QByteArray, setting);
    QFETCH(QByteArray, line);

    QCOMPARE(WriteArgs{}.call(), 1);
    Put(SettingsFile, "[Encoder]\r\n" + setting + "\r\n");
    QCOMPARE(R_Card("3"), 1);
    QCOMPARE(Contents(ReadFile), line + "\r\n");

    // The line replaces the card's data only when there is a card to read.
    QCOMPARE(L_Card("3"), 1);
    QVERIFY(QFile::remove(ReadFile));
    QCOMPARE(R_Card("3"), -3);
    QCOMPARE(Contents(ReadFile), "<missing>"_ba);
}

void tst_CardWR::settingsRules_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("expected");

    QTest::newRow("no settings") << QByteArray() << 1;
    QTest::newRow("CardPresent=1") << "[Encoder]\nCardPresent=1\n"_ba << 1;
    QTest::newRow("names in lower case") << "[encoder]\ncardpresent=0\n"_ba << -2;
    QTest::newRow("names in upper case") << "[ENCODER]\nRESULT=4\n"_ba << 4;
    QTest::newRow("blanks and CR LF") << "  [ Encoder ]  \r\n  CardPresent =  0 \r\n"_ba << -2;
    QTest::newRow("other section") << "[Other]\nCardPresent=0\n[Encoder]\n"_ba << 1;
    QTest::newRow("key before any section") << "Result=3\n[Encoder]\n"_ba << 1;
    QTest::newRow("comment") << "[Encoder]\n;CardPresent=0\n# Result=3\n"_ba << 1;
    QTest::newRow("first occurrence counts") << "[Encoder]\nResult=5\nResult=6\n"_ba << 5;
    QTest::newRow("quoted number") << "[Encoder]\nResult=\"-4\"\n"_ba << -4;
    QTest::newRow("CardPresent not a number") << "[Encoder]\nCardPresent=no\n"_ba << 1;
    QTest::newRow("CardPresent other number") << "[Encoder]\nCardPresent=2\n"_ba << 1;
    QTest::newRow("Result not a number") << "[Encoder]\nResult=fail\n"_ba << 1;
    QTest::newRow("Result empty") << "[Encoder]\nResult=\n"_ba << 1;
    QTest::newRow("Result out of range") << "[Encoder]\nResult=99999999999\n"_ba << 1;
    QTest::newRow("line without equals") << "[Encoder]\nResult\nCardPresent=0\n"_ba << -2;
    QTest::newRow("byte order mark") << "\xEF\xBB\xBF[Encoder]\nResult=9\n"_ba << 9;
    QTest::newRow("no final line break") << "[Encoder]\nResult=8"_ba << 8;
}

void tst_CardWR::settingsRules()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, expected);

    QCOMPARE(WriteArgs{}.call(), 1);
    if (!ini.isNull())
        Put(SettingsFile, ini);
    QCOMPARE(R_Card("3"), expected);
}

void tst_CardWR::delayDoesNotChangeResults()
{
    Put(SettingsFile, "[Encoder]\nDelayMs=20\n");
    QCOMPARE(WriteArgs{}.call(), 1);
    QCOMPARE(R_Card("3"), 1);
    QCOMPARE(Contents(ReadFile), "0101+1+2024-03-05 14:07:00\r\n"_ba);
    QCOMPARE(L_Card("3"), 1);
    QCOMPARE(R_Card("0"), -1);

    // Out-of-range delays are clamped or ignored, never an error.
    Put(SettingsFile, "[Encoder]\nDelayMs=-100\n");
    QCOMPARE(R_Card("3"), -3);
    Put(SettingsFile, "[Encoder]\nDelayMs=soon\n");
    QCOMPARE(WriteArgs{}.call(), 1);
    QCOMPARE(JournalLines().size(), 6);
}

void tst_CardWR::unwritableFilesGiveZero_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("call");

    QTest::newRow("write over a folder") << CardFile << "W"_ba;
    QTest::newRow("erase over a folder") << CardFile << "L"_ba;
    QTest::newRow("read of a folder") << CardFile << "R"_ba;
    QTest::newRow("read into a folder") << ReadFile << "R"_ba;
}

void tst_CardWR::unwritableFilesGiveZero()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, call);

    if (folder != CardFile)
        QCOMPARE(WriteArgs{}.call(), 1);
    QVERIFY(QDir().mkdir(folder));
    const int result = call == "W" ? WriteArgs{}.call() : call == "L" ? L_Card("3") : R_Card("3");
    QCOMPARE(result, 0);
    QVERIFY(QFileInfo(folder).isDir());
    // No side file is left behind.
    QCOMPARE(QDir().entryList(QDir::Files | QDir::NoDotAndDotDot).filter(u".tmp"_s), QStringList());
}

void tst_CardWR::journalEscapesSeparators()
{
    WriteArgs args;
    args.room = "a|b\\c";
    args.zeros = "x\ny\rz";
    QCOMPARE(args.call(), 1);
    QCOMPARE(JournalLines(),
             QList<QByteArray>{"W_Card|3|a\\|b\\\\c|x\\ny\\rz|202403051407|1|1|0|7319|1|1"_ba});
}

void tst_CardWR::concurrentCallsAreServedOneByOne()
{
    constexpr int Threads = 6;
    constexpr int Rounds = 25;
    std::atomic<int> failures = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([t, &failures] {
            const std::string room = "0" + std::to_string(t + 1) + "01";
            const std::string port = std::to_string(t + 1);
            for (int i = 0; i < Rounds; ++i) {
                WriteArgs args;
                args.port = port.c_str();
                args.room = room.c_str();
                if (args.call() != 1 || R_Card(port.c_str()) != 1)
                    failures.fetch_add(1);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(failures.load(), 0);

    // Every call left one whole line; the last read left one whole card line.
    const QList<QByteArray> lines = JournalLines();
    QCOMPARE(lines.size(), Threads * Rounds * 2);
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split('|');
        if (fields[0] == "W_Card")
            QCOMPARE(fields.size(), 11);
        else
            QCOMPARE(line, QByteArray("R_Card|" + fields[1] + "|1"));
    }
    const QByteArray read = Contents(ReadFile);
    QVERIFY2(read.endsWith("01+1+2024-03-05 14:07:00\r\n") && read.size() == 28, read.constData());
}

QTEST_GUILESS_MAIN(tst_CardWR)
#include "tst_cardwr.moc"
