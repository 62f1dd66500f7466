// The request handler in-process with the real encoder driver over the encoder simulator, the
// real record store on a copy of Client.db, a real log and settings file, and a clock that
// stands still, so every card time is known to the bit.

#include "ClientDbRows.h"
#include "ConnectionUnit.h"
#include "DatabaseSettingsUnit.h"
#include "DateTimeUnit.h"
#include "DoorRequests.h"
#include "DoorlockError.h"
#include "DoorlockMessageHandlerUnit.h"
#include "DoorlockRecordManagerUnit.h"
#include "LogFileUnit.h"
#include "OptionUnit.h"
#include "SysOptionUnit.h"
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
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

const TDateTime FixedNow = DateTime::EncodeDateTime(2024, 3, 5, 9, 41, 17, 250);
const TDateTime RequestedCheckIn = DateTime::EncodeDateTime(2024, 3, 5, 14, 0, 0);
// A room time no rule of the handler could compute by itself.
const TDateTime StoredTime = 45351.718181818181;

class TFixedClock : public TClock
{
public:
    TDateTime Now() const override { return FixedNow; }
    int CurrentYear() const override { return 2024; }
};

// Each reading is one minute later than the one before, so every card time is distinct.
class TSteppingClock : public TClock
{
public:
    TDateTime Now() const override { return DateTime::AddMinutes(FixedNow, m_minutes++); }
    int CurrentYear() const override { return 2024; }

private:
    mutable std::atomic<int> m_minutes{0};
};

// Exact text of a date-time: two values print the same only when they are the same double.
QString Exact(TDateTime value)
{
    return QString::number(value, 'g', 17);
}

QString Stamp(TDateTime value)
{
    return DateTime::FormatDateTime(u"yyyy-mm-dd hh:nn:ss.zzz", value);
}

QByteArray Answer(const QString& code, const QString& message, const QString& cardNo)
{
    return DoorResponse(code, message, cardNo) + '\0';
}

// The rooms of these cases are in building A.
struct TIssue : TIssueRequest
{
    TIssue() { Building = u"A"_s; }
};

TIssue CopyOf(TIssue issue)
{
    issue.Copy = u"1"_s;
    return issue;
}

QStringList Journal()
{
    QFile file(u"CardWR.journal"_s);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(u"\r\n"_s);
    lines.removeAll(QString());
    return lines;
}

// Field 9 of a W_Card journal line: "0" for a copy card, "1" for a new one.
QString CardKind(const QString& journalLine)
{
    return journalLine.split(u'|').value(9);
}

struct TServed
{
    bool Threw = false;
    QByteArray Output;
};

} // namespace

class tst_DoorlockMessageHandler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void results_data();
    void results();
    void copyFlag_data();
    void copyFlag();
    void cardStartTime_data();
    void cardStartTime();
    void roomStoreOffNeverTouchesRooms();
    void delayMinutes2OnCardEnd();
    void issueRecord_data();
    void issueRecord();
    void unreadableXml_data();
    void unreadableXml();
    void emptyRequest();
    void unreadableIssueCard_data();
    void unreadableIssueCard();
    void deviceError();
    void typeNamesNoOperation_data();
    void typeNamesNoOperation();
    void roomThatCannotFormCardNumber_data();
    void roomThatCannotFormCardNumber();
    void recordStoreFailureNeverStopsRequest();
    void byteOrderMark();
    void characterBeyondBmp();
    void concurrentRequestsForOneRoom();

private:
    // Writes Option.ini with these [DoorlockOption] lines and builds the program's objects.
    void start(const QByteArray& doorlockOptionLines, const TClock& clock);
    void start(const QByteArray& doorlockOptionLines) { start(doorlockOptionLines, m_clock); }
    TServed serve(const QString& request);
    QStringList logEntries() const;

    QString dbPath() const { return m_dir->filePath(u"Client.db"_s); }
    QList<QVariantList> rows(const QString& sql, const QVariantList& values = {});
    void seedRoom(const QString& roomKey, TDateTime time);
    QList<TDateTime> roomTimes(const QString& roomKey);
    QList<TIssueRecord> records();

    TFixedClock m_clock;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
    std::unique_ptr<TLogFile> m_log;
    std::unique_ptr<TOption> m_option;
    std::unique_ptr<TSysOption> m_sysOption;
    std::unique_ptr<TDoorlockRecordManager> m_store;
    std::unique_ptr<TVeltraKandorDoorlock> m_lock;
    TProgramObjects m_objects;
};

void tst_DoorlockMessageHandler::initTestCase()
{
    // As the running program does when its main window is created.
    DateTime::FixProcessFormats(TFormatSettings::Fixed());
    QVERIFY2(QFile::exists(QDir(qEnvironmentVariable("DOORLOCK_BIN_DIR")).filePath(u"Client.db"_s)),
             "build/bin/Client.db is missing");
}

void tst_DoorlockMessageHandler::init()
{
    m_oldDir = QDir::currentPath();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The encoder simulator keeps its files in the current directory.
    QVERIFY(QDir::setCurrent(m_dir->path()));
    const QString source = QDir(qEnvironmentVariable("DOORLOCK_BIN_DIR")).filePath(u"Client.db"_s);
    QVERIFY(QFile::copy(source, dbPath()));
    QVERIFY(QFile(dbPath()).setPermissions(QFile::ReadOwner | QFile::WriteOwner));
}

void tst_DoorlockMessageHandler::cleanup()
{
    m_lock.reset();
    m_store.reset();
    m_sysOption.reset();
    m_option.reset();
    m_log.reset();
    m_objects = TProgramObjects();
    QDir::setCurrent(m_oldDir);
    m_dir.reset();
}

void tst_DoorlockMessageHandler::start(const QByteArray& doorlockOptionLines, const TClock& clock)
{
    const QString ini = m_dir->filePath(u"Option.ini"_s);
    Put(ini, "[DoorlockOption]\r\n" + doorlockOptionLines + "\r\n");
    m_log = std::make_unique<TLogFile>(m_dir->filePath(u"20240305.LOG"_s));
    m_option = std::make_unique<TOption>(ini);
    m_option->Load();
    m_sysOption = std::make_unique<TSysOption>(ini);
    m_sysOption->Load();
    m_store = std::make_unique<TDoorlockRecordManager>(*m_log);
    m_store->Open(TDatabaseSettings::BesideProgram(m_dir->path() + u'/'));
    m_lock = std::make_unique<TVeltraKandorDoorlock>(*m_option, *m_log);
    m_objects.LogFile = m_log.get();
    m_objects.Option = m_option.get();
    m_objects.SysOption = m_sysOption.get();
    m_objects.RecordManager = m_store.get();
    m_objects.CurrentDoorlock = m_lock.get();
    m_objects.Clock = &clock;
}

TServed tst_DoorlockMessageHandler::serve(const QString& request)
{
    TServed served;
    TConnection connection;
    TDoorlockMessageHandler handler(m_objects);
    try {
        handler.HandleMessage(connection, request);
    } catch (const DoorlockError&) {
        served.Threw = true;
    }
    served.Output = connection.TakeOutput();
    return served;
}

// The entry texts of the log, stamps removed; an entry may span lines.
QStringList tst_DoorlockMessageHandler::logEntries() const
{
    QFile file(m_log->FilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QStringDecoder("GBK").decode(file.readAll());
    static const QRegularExpression stamp(u"^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "_s);
    static const QRegularExpression boundary(
        u"\r\n(?=\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d )"_s);
    if (!text.endsWith(u"\r\n"_s))
        return {u"<unterminated log> "_s + text};
    text.chop(2);
    QStringList entries;
    for (const QString& entry : text.split(boundary)) {
        if (!stamp.match(entry).hasMatch())
            return {u"<no stamp> "_s + entry};
        entries.append(entry.mid(20));
    }
    return entries;
}

QList<QVariantList> tst_DoorlockMessageHandler::rows(const QString& sql, const QVariantList& values)
{
    return ClientDbRows(dbPath(), sql, values);
}

void tst_DoorlockMessageHandler::seedRoom(const QString& roomKey, TDateTime time)
{
    rows(u"insert into T_Room(RoomNo, LastCheckInTime) values(?, ?)"_s, {roomKey, time});
}

QList<TDateTime> tst_DoorlockMessageHandler::roomTimes(const QString& roomKey)
{
    QList<TDateTime> times;
    for (const QVariantList& row :
         rows(u"select LastCheckInTime from T_Room where RoomNo=? order by rowid"_s, {roomKey}))
        times << row.at(0).toDouble();
    return times;
}

QList<TIssueRecord> tst_DoorlockMessageHandler::records()
{
    return IssueRecords(dbPath());
}

void tst_DoorlockMessageHandler::results_data()
{
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<QByteArray>("encoder");
    QTest::addColumn<QByteArray>("card"); // EncoderCard.txt before the request
    QTest::addColumn<QString>("request");
    QTest::addColumn<QByteArray>("answer");
    // The entries between "执行操作->" and "完成一次操作".
    QTest::addColumn<QStringList>("entries");

    const QString issue = TIssue().Text();
    const QString read = u"<DoorRequest type=\"ReadCard\"/>"_s;
    const QString erase = u"<DoorRequest type=\"EraseCard\"></DoorRequest>"_s;
    const QByteArray card = "0101+1+2024-03-07 12:00:00\r\n";

    QTest::newRow("issue written")
        << QByteArray() << QByteArray() << QByteArray() << issue
        << Answer(u"200"_s, u"发卡成功"_s, u"2024030712000101"_s)
        << QStringList{u"发卡成功,卡号为:2024030712000101"_s, u"房间(0101)发卡成功"_s};
    QTest::newRow("issue written, room stored")
        << "UseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1"_ba << QByteArray() << QByteArray()
        << issue << Answer(u"200"_s, u"发卡成功"_s, u"2024030712000101"_s)
        << QStringList{u"发卡成功,卡号为:2024030712000101"_s, u"新建房间A010101"_s,
                       u"房间(0101)发卡成功"_s};
    QTest::newRow("issue not written, encoder fails")
        << QByteArray() << "Result=0"_ba << QByteArray() << issue
        << Answer(u"500"_s, u"发卡失败"_s, u"0"_s)
        << QStringList{u"发卡失败0"_s, u"房间(0101)发卡失败"_s};
    QTest::newRow("issue not written, no card")
        << QByteArray() << "CardPresent=0"_ba << QByteArray() << issue
        << Answer(u"500"_s, u"发卡失败"_s, u"0"_s)
        << QStringList{u"发卡失败-2"_s, u"房间(0101)发卡失败"_s};
    QTest::newRow("read") << QByteArray() << QByteArray() << card << read
                          << Answer(u"200"_s, u"读卡成功"_s, u"2024030712000101"_s)
                          << QStringList{u"Data="_s, u"Data=0101+1+2024-03-07 12:00:00"_s,
                                         u"读卡成功,卡号为:2024030712000101"_s,
                                         u"读卡成功\uFF0C卡号为\uFF1A2024030712000101"_s};
    QTest::newRow("not read, blank card") << QByteArray() << QByteArray() << QByteArray() << read
                                          << Answer(u"500"_s, u"读卡失败"_s, u"0"_s)
                                          << QStringList{u"Data="_s, u"读卡失败"_s, u"读卡失败"_s};
    QTest::newRow("erased") << QByteArray() << QByteArray() << card << erase
                            << Answer(u"200"_s, u"注销卡成功 "_s, u"0"_s)
                            << QStringList{u"注销成功"_s, u"注销卡成功"_s};
    QTest::newRow("not erased") << QByteArray() << "CardPresent=0"_ba << card << erase
                                << Answer(u"500"_s, u"注销卡失败 "_s, u"0"_s)
                                << QStringList{u"注销失败"_s, u"注销卡失败"_s};
}

void tst_DoorlockMessageHandler::results()
{
    QFETCH(QByteArray, options);
    QFETCH(QByteArray, encoder);
    QFETCH(QByteArray, card);
    QFETCH(QString, request);
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, entries);

    start(options);
    if (!encoder.isEmpty())
        EncoderSettings(encoder);
    if (!card.isEmpty())
        Put(u"EncoderCard.txt"_s, card);

    const TServed served = serve(request);
    QVERIFY(!served.Threw);
    QCOMPARE(served.Output, answer);
    QCOMPARE(logEntries(), QStringList{u"收到消息: \r\n"_s + request} << u"执行操作->"_s << entries
                                                                      << u"完成一次操作"_s);
}

void tst_DoorlockMessageHandler::copyFlag_data()
{
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("isCopy");

    QTest::newRow("1") << u"1"_s << u"0"_s << true;
    QTest::newRow("true") << u"true"_s << u"0"_s << true;
    QTest::newRow("TRUE") << u"TRUE"_s << u"0"_s << true;
    QTest::newRow("-1") << u"-1"_s << u"0"_s << true;
    QTest::newRow("2.5") << u"2.5"_s << u"0"_s << true;
    QTest::newRow("0") << u"0"_s << u"1"_s << false;
    QTest::newRow("false") << u"false"_s << u"1"_s << false;
    QTest::newRow("yes") << u"yes"_s << u"1"_s << false;
    QTest::newRow("no") << u"no"_s << u"1"_s << false;
    QTest::newRow("empty") << QString() << u"1"_s << false;
}

void tst_DoorlockMessageHandler::copyFlag()
{
    QFETCH(QString, flag);
    QFETCH(QString, kind);
    QFETCH(bool, isCopy);

    start("SaveDoorlockRecord=1");
    TIssue issue;
    issue.Copy = flag;
    const TServed served = serve(issue.Text());
    QVERIFY(served.Output.contains("<ResultCode>200</ResultCode>"));
    const QStringList journal = Journal();
    QCOMPARE(journal.size(), 1);
    QVERIFY(journal.at(0).startsWith(u"W_Card|1|0101|000000000000|202403071200|1|1|0|7319|"_s));
    QCOMPARE(CardKind(journal.at(0)), kind);
    QCOMPARE(records().value(0).IsCopy, isCopy);
}

enum class StartRule
{
    AdjustedCheckIn,
    NowMinusDelay,
    Stored
};
enum class RoomAfter
{
    NoRow,
    StoredTime,
    StartTime
};
enum class NewRoomLine
{
    None,
    BeforeWrite,
    AfterWrite
};
Q_DECLARE_METATYPE(StartRule)
Q_DECLARE_METATYPE(RoomAfter)
Q_DECLARE_METATYPE(NewRoomLine)

void tst_DoorlockMessageHandler::cardStartTime_data()
{
    QTest::addColumn<bool>("roomStore");
    QTest::addColumn<bool>("isCopy");
    QTest::addColumn<bool>("seeded"); // the room has a stored time before the request
    QTest::addColumn<bool>("writeFails");
    QTest::addColumn<StartRule>("rule");
    QTest::addColumn<RoomAfter>("roomAfter");
    QTest::addColumn<NewRoomLine>("newRoomLine");

    QTest::newRow("off, new card") << false << false << true << false << StartRule::AdjustedCheckIn
                                   << RoomAfter::StoredTime << NewRoomLine::None;
    QTest::newRow("off, copy card") << false << true << true << false << StartRule::AdjustedCheckIn
                                    << RoomAfter::StoredTime << NewRoomLine::None;
    QTest::newRow("off, copy card, no stored time")
        << false << true << false << false << StartRule::AdjustedCheckIn << RoomAfter::NoRow
        << NewRoomLine::None;
    QTest::newRow("on, new card, no stored time")
        << true << false << false << false << StartRule::NowMinusDelay << RoomAfter::StartTime
        << NewRoomLine::AfterWrite;
    QTest::newRow("on, new card, stored time")
        << true << false << true << false << StartRule::NowMinusDelay << RoomAfter::StartTime
        << NewRoomLine::None;
    QTest::newRow("on, new card, write fails")
        << true << false << true << true << StartRule::NowMinusDelay << RoomAfter::StoredTime
        << NewRoomLine::None;
    QTest::newRow("on, new card, no stored time, write fails")
        << true << false << false << true << StartRule::NowMinusDelay << RoomAfter::NoRow
        << NewRoomLine::None;
    QTest::newRow("on, copy card, stored time")
        << true << true << true << false << StartRule::Stored << RoomAfter::StoredTime
        << NewRoomLine::None;
    QTest::newRow("on, copy card, stored time, write fails")
        << true << true << true << true << StartRule::Stored << RoomAfter::StoredTime
        << NewRoomLine::None;
    QTest::newRow("on, copy card, no stored time")
        << true << true << false << false << StartRule::NowMinusDelay << RoomAfter::StartTime
        << NewRoomLine::BeforeWrite;
    QTest::newRow("on, copy card, no stored time, write fails")
        << true << true << false << true << StartRule::NowMinusDelay << RoomAfter::StartTime
        << NewRoomLine::BeforeWrite;
}

void tst_DoorlockMessageHandler::cardStartTime()
{
    QFETCH(bool, roomStore);
    QFETCH(bool, isCopy);
    QFETCH(bool, seeded);
    QFETCH(bool, writeFails);
    QFETCH(StartRule, rule);
    QFETCH(RoomAfter, roomAfter);
    QFETCH(NewRoomLine, newRoomLine);

    start("DelayMinutes=15\r\nSaveDoorlockRecord=1\r\nUseNativeDoorlockDb="_ba +
          (roomStore ? "1" : "0"));
    TIssue issue;
    issue.Copy = isCopy ? u"1"_s : u"0"_s;
    if (seeded)
        seedRoom(issue.RoomKey(), StoredTime);
    if (writeFails)
        EncoderSettings("Result=0");

    const TServed served = serve(issue.Text());
    QVERIFY(!served.Threw);
    QCOMPARE(served.Output.contains("<ResultCode>200</ResultCode>"), !writeFails);

    TDateTime expected = StoredTime;
    if (rule == StartRule::AdjustedCheckIn)
        expected = DateTime::AddMinutes(RequestedCheckIn, -15);
    else if (rule == StartRule::NowMinusDelay)
        expected = DateTime::AddMinutes(FixedNow, -15);
    const QList<TIssueRecord> written = records();
    QCOMPARE(written.size(), 1);
    QCOMPARE(Exact(written.at(0).LastCheckInTime), Exact(expected));
    if (rule != StartRule::Stored)
        QCOMPARE(Stamp(written.at(0).LastCheckInTime), rule == StartRule::AdjustedCheckIn
                                                           ? u"2024-03-05 13:45:00.000"_s
                                                           : u"2024-03-05 09:26:17.250"_s);

    QList<TDateTime> expectedRoom;
    if (roomAfter == RoomAfter::StoredTime)
        expectedRoom = {StoredTime};
    else if (roomAfter == RoomAfter::StartTime)
        expectedRoom = {expected};
    QList<QString> exactRoom;
    for (TDateTime time : roomTimes(issue.RoomKey()))
        exactRoom << Exact(time);
    QList<QString> exactExpected;
    for (TDateTime time : expectedRoom)
        exactExpected << Exact(time);
    QCOMPARE(exactRoom, exactExpected);

    const QStringList entries = logEntries();
    const qsizetype newRoom = entries.indexOf(u"新建房间"_s + issue.RoomKey());
    const qsizetype device =
        entries.indexOf(QRegularExpression(u"^发卡(成功,卡号为:\\d+|失败0)$"_s));
    QVERIFY(device > 0);
    switch (newRoomLine) {
    case NewRoomLine::None:
        QCOMPARE(newRoom, -1);
        break;
    case NewRoomLine::BeforeWrite:
        QVERIFY(newRoom >= 0 && newRoom < device);
        break;
    case NewRoomLine::AfterWrite:
        QVERIFY(newRoom > device);
        break;
    }
}

void tst_DoorlockMessageHandler::roomStoreOffNeverTouchesRooms()
{
    // Without the room table every read or write of a room time would log the database's error.
    start("UseNativeDoorlockDb=0\r\nSaveDoorlockRecord=1");
    rows(u"drop table T_Room"_s);
    const TIssue issue;
    for (const TIssue& request : {issue, CopyOf(issue)}) {
        const TServed served = serve(request.Text());
        QVERIFY(served.Output.contains("<ResultCode>200</ResultCode>"));
    }
    const QStringList once = {u"执行操作->"_s, u"发卡成功,卡号为:2024030712000101"_s,
                              u"房间(0101)发卡成功"_s, u"完成一次操作"_s};
    QCOMPARE(logEntries(), QStringList{u"收到消息: \r\n"_s + issue.Text()}
                               << once << u"收到消息: \r\n"_s + CopyOf(issue).Text() << once);
    QCOMPARE(records().size(), 2);
}

void tst_DoorlockMessageHandler::delayMinutes2OnCardEnd()
{
    start("DelayMinutes2=30\r\nSaveDoorlockRecord=1");
    TIssue issue;
    issue.CheckOutDate = u"2024-03-05"_s;
    issue.CheckOutTime = u"12:00:00"_s;
    const TServed served = serve(issue.Text());
    QCOMPARE(served.Output, Answer(u"200"_s, u"发卡成功"_s, u"2024030512300101"_s));
    QCOMPARE(Journal(), QStringList{u"W_Card|1|0101|000000000000|202403051230|1|1|0|7319|1|1"_s});
    QCOMPARE(Stamp(records().value(0).CheckOutTime), u"2024-03-05 12:30:00.000"_s);
}

void tst_DoorlockMessageHandler::issueRecord_data()
{
    QTest::addColumn<bool>("roomStore");
    QTest::addColumn<bool>("isCopy");
    QTest::addColumn<bool>("writeFails");
    QTest::addColumn<QString>("cardNo");
    QTest::addColumn<QString>("lastCheckIn");

    QTest::newRow("new card written, room store off")
        << false << false << false << u"2024030712300101"_s << u"2024-03-05 13:45:00.000"_s;
    QTest::newRow("copy card written, room store on")
        << true << true << false << u"2024030712300101"_s << u"2024-03-05 09:26:17.250"_s;
    QTest::newRow("new card not written, room store off")
        << false << false << true << u"0"_s << u"2024-03-05 13:45:00.000"_s;
    QTest::newRow("new card not written, room store on")
        << true << false << true << u"0"_s << u"2024-03-05 09:26:17.250"_s;
    QTest::newRow("copy card not written, room store on")
        << true << true << true << u"0"_s << u"2024-03-05 09:26:17.250"_s;
}

void tst_DoorlockMessageHandler::issueRecord()
{
    QFETCH(bool, roomStore);
    QFETCH(bool, isCopy);
    QFETCH(bool, writeFails);
    QFETCH(QString, cardNo);
    QFETCH(QString, lastCheckIn);

    start("DelayMinutes=15\r\nDelayMinutes2=30\r\nSaveDoorlockRecord=1\r\nUseNativeDoorlockDb="_ba +
          (roomStore ? "1" : "0"));
    if (writeFails)
        EncoderSettings("Result=0");
    TIssue issue;
    issue.RegisterId = u"R-2024-0042"_s;
    issue.Building = u"B2"_s;
    issue.Floor = u"03"_s;
    issue.Guest = u"李四 Li Si"_s;
    issue.Copy = isCopy ? u"1"_s : u"0"_s;
    const TServed served = serve(issue.Text());
    QVERIFY(served.Output.contains(QByteArray("<CardNo>" + cardNo.toUtf8() + "</CardNo>")));

    const QList<TIssueRecord> written = records();
    QCOMPARE(written.size(), 1);
    const TIssueRecord& record = written.at(0);
    QCOMPARE(record.RegisterId, u"R-2024-0042"_s);
    QCOMPARE(record.CardNo, cardNo);
    QCOMPARE(record.RoomNo, u"B2030101"_s);
    QCOMPARE(record.CardType, 1);
    QCOMPARE(Stamp(record.LastCheckInTime), lastCheckIn);
    QCOMPARE(Exact(record.CheckInTime), Exact(DateTime::AddMinutes(RequestedCheckIn, -15)));
    QCOMPARE(Stamp(record.CheckInTime), u"2024-03-05 13:45:00.000"_s);
    QCOMPARE(Stamp(record.CheckOutTime), u"2024-03-07 12:30:00.000"_s);
    QCOMPARE(record.IsCopy, isCopy);
    QCOMPARE(record.GuestName, u"李四 Li Si"_s);
    QCOMPARE(Exact(record.OpratingTime), Exact(FixedNow));
}

void tst_DoorlockMessageHandler::unreadableXml_data()
{
    QTest::addColumn<QString>("request");

    QTest::newRow("no element") << u"IssueCard"_s;
    QTest::newRow("close tag does not match") << u"<R type=\"ReadCard\"><a>1</b></R>"_s;
    QTest::newRow("element still open") << u"<R type=\"EraseCard\"><a>1</a>"_s;
    QTest::newRow("< at the very end") << u"<R type=\"ReadCard\"/><"_s;
}

void tst_DoorlockMessageHandler::unreadableXml()
{
    QFETCH(QString, request);

    start("UseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1");
    const TServed served = serve(request);
    QVERIFY(served.Threw);
    QVERIFY(served.Output.isEmpty());
    QCOMPARE(logEntries(), QStringList{u"收到消息: \r\n"_s + request});
    QVERIFY(Journal().isEmpty());
}

void tst_DoorlockMessageHandler::emptyRequest()
{
    start(QByteArray());
    const TServed served = serve(QString());
    QVERIFY(served.Threw);
    QVERIFY(served.Output.isEmpty());
    QCOMPARE(logEntries(), QStringList{u"收到消息: \r\n"_s});
    QVERIFY(Journal().isEmpty());
}

void tst_DoorlockMessageHandler::unreadableIssueCard_data()
{
    QTest::addColumn<QString>("request");

    TIssue issue;
    issue.Copy = u"1"_s; // a copy card for a room without a time would add the room
    QString tenPositions = issue.Text();
    tenPositions.remove(u"<RequestID>7</RequestID>"_s);
    QTest::newRow("ten positions") << tenPositions;
    QTest::newRow("no positions") << u"<R type=\"IssueCard\"></R>"_s;
    TIssue badDate = issue;
    badDate.CheckInDate = u"2024-13-05"_s;
    QTest::newRow("check-in date unreadable") << badDate.Text();
    TIssue badTime = issue;
    badTime.CheckOutTime = u"25:00"_s;
    QTest::newRow("check-out time unreadable") << badTime.Text();
    TIssue badCheckOut = issue;
    badCheckOut.CheckOutDate = u"tomorrow"_s;
    QTest::newRow("check-out date unreadable") << badCheckOut.Text();
}

void tst_DoorlockMessageHandler::unreadableIssueCard()
{
    QFETCH(QString, request);

    start("UseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1");
    const TServed served = serve(request);
    QVERIFY(served.Threw);
    QVERIFY(served.Output.isEmpty());
    QCOMPARE(logEntries(), QStringList({u"收到消息: \r\n"_s + request, u"执行操作->"_s}));
    QVERIFY(Journal().isEmpty());
    QVERIFY(rows(u"select * from T_Room"_s).isEmpty());
    QVERIFY(records().isEmpty());
}

void tst_DoorlockMessageHandler::deviceError()
{
    start(QByteArray());
    Put(u"EncoderCard.txt"_s, "0101+1+2024-03-07 12:00:00\r\n");
    EncoderSettings("CardLine=0101+2024-03-05 14:07:00");
    const QString request = u"<R type=\"ReadCard\"/>"_s;
    const TServed served = serve(request);
    QVERIFY(served.Threw);
    QVERIFY(served.Output.isEmpty());
    QCOMPARE(logEntries(), QStringList({u"收到消息: \r\n"_s + request, u"执行操作->"_s, u"Data="_s,
                                        u"Data=0101+2024-03-05 14:07:00"_s}));
}

void tst_DoorlockMessageHandler::typeNamesNoOperation_data()
{
    QTest::addColumn<QString>("request");

    QTest::newRow("unknown type") << u"<R type=\"WriteCard\"/>"_s;
    QTest::newRow("empty type") << u"<R type=\"\"/>"_s;
    QTest::newRow("blank type") << u"<R type=\"  \"/>"_s;
    QTest::newRow("no type") << u"<R kind=\"ReadCard\"/>"_s;
    QTest::newRow("lower case") << TIssue().Text().replace(u"IssueCard"_s, u"issuecard"_s);
    QTest::newRow("erase in capitals") << u"<R type=\"ERASECARD\"/>"_s;
}

void tst_DoorlockMessageHandler::typeNamesNoOperation()
{
    QFETCH(QString, request);

    start("UseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1");
    const TServed served = serve(request);
    QVERIFY(!served.Threw);
    QVERIFY(served.Output.isEmpty());
    QCOMPARE(logEntries(),
             QStringList({u"收到消息: \r\n"_s + request, u"执行操作->"_s, u"完成一次操作"_s}));
    QVERIFY(Journal().isEmpty());
    QVERIFY(records().isEmpty());
}

void tst_DoorlockMessageHandler::roomThatCannotFormCardNumber_data()
{
    QTest::addColumn<QString>("room");

    QTest::newRow("blanks around the digits") << u" 0101 "_s;
    QTest::newRow("letter") << u"01A"_s;
    QTest::newRow("too many digits") << u"01234567"_s;
}

void tst_DoorlockMessageHandler::roomThatCannotFormCardNumber()
{
    QFETCH(QString, room);

    start("SaveDoorlockRecord=1");
    TIssue issue;
    issue.Room = room;
    const TServed served = serve(issue.Text());
    QVERIFY(!served.Threw);
    QCOMPARE(served.Output, Answer(u"500"_s, u"发卡失败"_s, u"0"_s));
    QVERIFY(Journal().isEmpty());
    QCOMPARE(logEntries().mid(2),
             QStringList({u"发卡失败,房号无法构成卡号:"_s + room,
                          u"房间("_s + room + u")发卡失败"_s, u"完成一次操作"_s}));
    const QList<TIssueRecord> written = records();
    QCOMPARE(written.size(), 1);
    QCOMPARE(written.at(0).CardNo, u"0"_s);
    QCOMPARE(written.at(0).RoomNo, u"A01"_s + room);
}

void tst_DoorlockMessageHandler::recordStoreFailureNeverStopsRequest()
{
    QVERIFY(QFile::remove(dbPath()));
    start("UseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1");
    const qsizetype openError = logEntries().size();
    QCOMPARE(openError, 1); // the failed open

    const TIssue copy = CopyOf(TIssue());
    const TServed issued = serve(copy.Text());
    QVERIFY(!issued.Threw);
    QVERIFY(issued.Output.contains("<ResultCode>200</ResultCode><ResultMessage>发卡成功"));
    const QStringList entries = logEntries().mid(openError);
    // The room read, the room insert and the record each fail and log the database's message;
    // the request goes on as if they had worked.
    QCOMPARE(entries.size(), 8);
    QCOMPARE(entries.at(1), u"执行操作->"_s);
    QCOMPARE(entries.at(4), u"发卡成功,卡号为:2024030712000101"_s);
    QCOMPARE(entries.mid(6), QStringList({u"房间(0101)发卡成功"_s, u"完成一次操作"_s}));
    for (const QString& error : {entries.at(2), entries.at(3), entries.at(5)}) {
        QVERIFY(!error.isEmpty());
        QVERIFY2(!error.startsWith(u"新建房间"_s), qPrintable(error));
    }

    QVERIFY(serve(TIssue().Text()).Output.contains("<ResultCode>200</ResultCode>"));
    QVERIFY(serve(u"<R type=\"ReadCard\"/>"_s).Output.contains("<ResultCode>200</ResultCode>"));
    QVERIFY(!QFile::exists(dbPath()));
}

void tst_DoorlockMessageHandler::byteOrderMark()
{
    start("SaveDoorlockRecord=1");
    const QString request = TIssue().Text();
    const TServed plain = serve(request);
    const TServed marked = serve(QChar(0xFEFF) + request);
    QVERIFY(!marked.Threw);
    QVERIFY(plain.Output.contains("<ResultCode>200</ResultCode>"));
    QCOMPARE(marked.Output, plain.Output);
    const QStringList journal = Journal();
    QCOMPARE(journal.size(), 2);
    QCOMPARE(journal.at(1), journal.at(0));
    const QList<TIssueRecord> written = records();
    QCOMPARE(written.size(), 2);
    QCOMPARE(written.at(1).RoomNo, written.at(0).RoomNo);
    QCOMPARE(written.at(1).GuestName, written.at(0).GuestName);
}

void tst_DoorlockMessageHandler::characterBeyondBmp()
{
    start("SaveDoorlockRecord=1");
    TIssue issue;
    issue.Guest = u"王\U0001F600𠀀"_s;
    const TServed served = serve(issue.Text());
    QVERIFY(served.Output.contains("<ResultCode>200</ResultCode>"));
    QCOMPARE(records().value(0).GuestName, u"王\U0001F600𠀀"_s);
}

void tst_DoorlockMessageHandler::concurrentRequestsForOneRoom()
{
    TSteppingClock clock;
    start("UseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1\r\nDelayMinutes=5", clock);
    // A slow encoder leaves room for the other thread to step in between store and encoder.
    EncoderSettings("DelayMs=20");
    const TIssue issue;
    // Copy cards first: both threads find the room without a time at the start.
    const std::vector<QString> requests = {CopyOf(issue).Text(), issue.Text(), CopyOf(issue).Text(),
                                           issue.Text()};
    std::atomic<int> answered{0};
    auto client = [&] {
        for (const QString& request : requests) {
            TConnection connection;
            TDoorlockMessageHandler handler(m_objects);
            try {
                handler.HandleMessage(connection, request);
            } catch (const DoorlockError&) {
                continue;
            }
            if (connection.TakeOutput().contains("<ResultCode>200</ResultCode>"))
                ++answered;
        }
    };
    std::thread first(client);
    std::thread second(client);
    first.join();
    second.join();
    QCOMPARE(answered.load(), 8);

    // Replayed in the order the records were made, each copy card starts at the room's time
    // as the card steps before it left it.
    QList<TIssueRecord> written = records();
    QCOMPARE(written.size(), 8);
    std::sort(written.begin(), written.end(), [](const TIssueRecord& a, const TIssueRecord& b) {
        return a.OpratingTime < b.OpratingTime;
    });
    bool roomKnown = false;
    TDateTime roomTime = 0;
    for (const TIssueRecord& record : written) {
        if (record.IsCopy && roomKnown)
            QCOMPARE(Exact(record.LastCheckInTime), Exact(roomTime));
        roomTime = record.LastCheckInTime;
        roomKnown = true;
    }
    const QList<TDateTime> room = roomTimes(issue.RoomKey());
    QCOMPARE(room.size(), 1);
    QCOMPARE(Exact(room.at(0)), Exact(roomTime));
    QCOMPARE(logEntries().count(u"新建房间"_s + issue.RoomKey()), 1);
}

QTEST_GUILESS_MAIN(tst_DoorlockMessageHandler)
#include "tst_doorlockmessagehandler.moc"
