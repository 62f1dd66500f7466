// Door requests against the real program over TCP: answers on the wire, the operation log, the
// encoder simulator's journal and the rows of Client.db. Three programs serve all the cases,
// one per group of settings; each case uses rooms of its own.

#include "ClientDbRows.h"
#include "DoorRequests.h"
#include "ProgramInstance.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 MsPerDay = 86400000;

// A stored room time that no rule of the program computes by itself.
const double StoredTime = 45351.718181818181;

QString Exact(double value)
{
    return QString::number(value, 'g', 17);
}

// A day count (days since 1899-12-30) to whole milliseconds, and as readable text.
qint64 DayCountMs(double value)
{
    return qRound64(value * double(MsPerDay));
}

QString DayCountText(double value)
{
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC)
        .addMSecs(DayCountMs(value))
        .toString(u"yyyy-MM-dd hh:mm:ss.zzz"_s);
}

// The local wall clock as the program reads it, in milliseconds of the day count.
qint64 WallClockMs()
{
    const QDateTime now = QDateTime::currentDateTime();
    return QDate(1899, 12, 30).daysTo(now.date()) * MsPerDay + now.time().msecsSinceStartOfDay();
}

// The log's entry texts without their stamps; an entry may span lines.
QStringList LogEntries(const TProgramInstance& program)
{
    QString text = program.Log();
    if (text.isEmpty())
        return {};
    static const QRegularExpression boundary(
        u"\r\n(?=\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d )"_s);
    if (!text.endsWith(u"\r\n"_s))
        return {u"<unterminated log> "_s + text};
    text.chop(2);
    QStringList entries;
    for (const QString& entry : text.split(boundary))
        entries.append(entry.mid(20));
    return entries;
}

QList<QVariantList> Rows(const TProgramInstance& program, const QString& sql,
                         const QVariantList& values = {})
{
    return ClientDbRows(program.FilePath(u"Client.db"_s), sql, values);
}

QList<TIssueRecord> Records(const TProgramInstance& program)
{
    return IssueRecords(program.FilePath(u"Client.db"_s));
}

QStringList RoomTimes(const TProgramInstance& program, const QString& roomKey)
{
    QStringList times;
    for (const QVariantList& row :
         Rows(program, u"select LastCheckInTime from T_Room where RoomNo=? order by rowid"_s,
              {roomKey}))
        times << Exact(row.at(0).toDouble());
    return times;
}

// One request and everything it left behind.
struct TExchange
{
    TProgramInstance::TAnswer Answer;
    QStringList Log;     // the entries it added
    QStringList Journal; // the encoder calls it made
    QList<TIssueRecord> Records;
    qint64 BeforeMs = 0; // wall clock just before and after
    qint64 AfterMs = 0;
};

TExchange Exchange(const TProgramInstance& program, const QByteArray& body)
{
    TExchange exchange;
    const qsizetype log = LogEntries(program).size();
    const qsizetype journal = program.Journal().size();
    const qsizetype records = Records(program).size();
    exchange.BeforeMs = WallClockMs();
    exchange.Answer = program.Request(body);
    exchange.AfterMs = WallClockMs();
    // The handler has returned once the connection ends, answered or not.
    exchange.Log = LogEntries(program).mid(log);
    exchange.Journal = program.Journal().mid(journal);
    exchange.Records = Records(program).mid(records);
    return exchange;
}

QString WCard(const QString& room, const QString& end, const QString& kind,
              const QString& result = u"1"_s)
{
    return u"W_Card|1|"_s + room + u"|000000000000|"_s + end + u"|1|1|0|7319|"_s + kind + u'|' +
           result;
}

} // namespace

class TestProgramRequests : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void issueReadBackErase();
    void typeVariants_data();
    void typeVariants();
    void requestForms_data();
    void requestForms();
    void blanksAroundRoomNumber();
    void copyFlag_data();
    void copyFlag();
    void failedWriteIsRecorded_data();
    void failedWriteIsRecorded();
    void fewerThanElevenPositions();
    void emptyRequest();
    void byteOrderMark();
    void cardStartTime_data();
    void cardStartTime();
    void delayMinutes2OnCardEnd();

private:
    TProgramInstance& instance(bool roomStore) { return roomStore ? *m_roomStore : *m_delays; }

    // Room store off, records on, no delays.
    std::unique_ptr<TProgramInstance> m_plain;
    // Room store and records on, DelayMinutes 15, DelayMinutes2 30.
    std::unique_ptr<TProgramInstance> m_roomStore;
    // Room store off, records on, DelayMinutes 15, DelayMinutes2 30.
    std::unique_ptr<TProgramInstance> m_delays;
};

void TestProgramRequests::initTestCase()
{
    m_plain = std::make_unique<TProgramInstance>();
    m_plain->WriteOptions(u"[DoorlockOption]\r\nSaveDoorlockRecord=1\r\n"_s);
    QVERIFY(m_plain->Start());
    m_roomStore = std::make_unique<TProgramInstance>();
    m_roomStore->WriteOptions(u"[DoorlockOption]\r\nUseNativeDoorlockDb=1\r\n"
                              u"SaveDoorlockRecord=1\r\nDelayMinutes=15\r\nDelayMinutes2=30\r\n"_s);
    QVERIFY(m_roomStore->Start());
    m_delays = std::make_unique<TProgramInstance>();
    m_delays->WriteOptions(u"[DoorlockOption]\r\nUseNativeDoorlockDb=0\r\n"
                           u"SaveDoorlockRecord=1\r\nDelayMinutes=15\r\nDelayMinutes2=30\r\n"_s);
    QVERIFY(m_delays->Start());
}

void TestProgramRequests::cleanupTestCase()
{
    for (auto* program : {&m_plain, &m_roomStore, &m_delays}) {
        if (*program)
            QCOMPARE((*program)->Terminate(), 0);
    }
}

void TestProgramRequests::issueReadBackErase()
{
    const TProgramInstance& program = *m_plain;
    const TIssueRequest issue(u"0301"_s);

    const TExchange issued = Exchange(program, issue.Bytes());
    QVERIFY(issued.Answer.Answered);
    QCOMPARE(issued.Answer.Body, DoorResponse(u"200"_s, u"发卡成功"_s, u"2024030712000301"_s));
    QCOMPARE(issued.Log, QStringList({u"收到消息: \r\n"_s + issue.Text(), u"执行操作->"_s,
                                      u"发卡成功,卡号为:2024030712000301"_s,
                                      u"房间(0301)发卡成功"_s, u"完成一次操作"_s}));
    QCOMPARE(issued.Journal, QStringList{WCard(u"0301"_s, u"202403071200"_s, u"1"_s)});
    QCOMPARE(issued.Records.size(), 1);
    QCOMPARE(issued.Records.at(0).CardNo, u"2024030712000301"_s);

    const QByteArray readRequest = "<DoorRequest type=\"ReadCard\"></DoorRequest>";
    const TExchange read = Exchange(program, readRequest);
    QVERIFY(read.Answer.Answered);
    QCOMPARE(read.Answer.Body, DoorResponse(u"200"_s, u"读卡成功"_s, u"2024030712000301"_s));
    QCOMPARE(read.Log.size(), 7);
    QVERIFY(read.Log.at(2).startsWith(u"Data="_s)); // the line of an earlier read, if any
    QCOMPARE(
        read.Log.mid(3),
        QStringList({u"Data=0301+1+2024-03-07 12:00:00"_s, u"读卡成功,卡号为:2024030712000301"_s,
                     u"读卡成功，卡号为：2024030712000301"_s, u"完成一次操作"_s}));
    QCOMPARE(read.Journal, QStringList{u"R_Card|1|1"_s});

    const TExchange erased = Exchange(program, "<DoorRequest type=\"EraseCard\"/>");
    QVERIFY(erased.Answer.Answered);
    QCOMPARE(erased.Answer.Body, DoorResponse(u"200"_s, u"注销卡成功 "_s, u"0"_s));
    QCOMPARE(erased.Log.mid(1),
             QStringList({u"执行操作->"_s, u"注销成功"_s, u"注销卡成功"_s, u"完成一次操作"_s}));
    QCOMPARE(erased.Journal, QStringList{u"L_Card|1|1"_s});

    const TExchange blank = Exchange(program, readRequest);
    QCOMPARE(blank.Answer.Body, DoorResponse(u"500"_s, u"读卡失败"_s, u"0"_s));
    QCOMPARE(blank.Log.mid(2), QStringList({u"Data=0301+1+2024-03-07 12:00:00"_s,
                                            u"读卡失败0301+1+2024-03-07 12:00:00"_s, u"读卡失败"_s,
                                            u"完成一次操作"_s}));
    QCOMPARE(blank.Journal, QStringList{u"R_Card|1|-3"_s});
}

void TestProgramRequests::typeVariants_data()
{
    QTest::addColumn<QString>("room");
    QTest::addColumn<QString>("attribute"); // replaces type="IssueCard"
    QTest::addColumn<bool>("served");

    QTest::newRow("blanks around the name") << u"0311"_s << u"type=\" IssueCard \""_s << true;
    QTest::newRow("line breaks around the name")
        << u"0312"_s << u"type=\"\nIssueCard\n\""_s << true;
    QTest::newRow("attribute name in capitals") << u"0313"_s << u"TYPE=\"IssueCard\""_s << true;
    QTest::newRow("name in lower case") << u"0314"_s << u"type=\"issuecard\""_s << false;
}

void TestProgramRequests::typeVariants()
{
    QFETCH(QString, room);
    QFETCH(QString, attribute);
    QFETCH(bool, served);

    const TProgramInstance& program = *m_plain;
    const QString request = TIssueRequest(room).Text().replace(u"type=\"IssueCard\""_s, attribute);
    const TExchange exchange = Exchange(program, request.toUtf8());
    QCOMPARE(exchange.Answer.Answered, served);
    if (served) {
        QCOMPARE(exchange.Answer.Body,
                 DoorResponse(u"200"_s, u"发卡成功"_s, u"202403071200"_s + room));
        QCOMPARE(exchange.Journal, QStringList{WCard(room, u"202403071200"_s, u"1"_s)});
        QCOMPARE(exchange.Records.size(), 1);
    } else {
        QVERIFY(exchange.Answer.ClosedByPeer);
        QVERIFY(exchange.Answer.Body.isEmpty());
        QCOMPARE(exchange.Log,
                 QStringList({u"收到消息: \r\n"_s + request, u"执行操作->"_s, u"完成一次操作"_s}));
        QVERIFY(exchange.Journal.isEmpty());
        QVERIFY(exchange.Records.isEmpty());
    }
}

void TestProgramRequests::requestForms_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("room");
    QTest::addColumn<QString>("registerId");
    QTest::addColumn<QString>("guest");
    QTest::addColumn<bool>("isCopy");

    const TIssueRequest base(u"0401"_s);
    QTest::newRow("one line") << base.Text() << u"0401"_s << u"R-1001"_s << u"张三"_s << false;

    QTest::newRow("laid out with indentation") << u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                                  u"<DoorRequest type=\"IssueCard\">\r\n"
                                                  u"    <RequestID>7</RequestID>\r\n"
                                                  u"    <RegisterId>R-1001</RegisterId>\r\n"
                                                  u"    <BuildingCode>00</BuildingCode>\r\n"
                                                  u"    <FloorCode>01</FloorCode>\r\n"
                                                  u"    <RoomNo>0402</RoomNo>\r\n"
                                                  u"\t<GuestName>张三</GuestName>\r\n"
                                                  u"    <CheckInDate>2024-03-05</CheckInDate>\r\n"
                                                  u"    <CheckInTime>14:00:00</CheckInTime>\r\n"
                                                  u"    <CheckOutDate>2024-03-07</CheckOutDate>\r\n"
                                                  u"    <CheckOutTime>12:00:00</CheckOutTime>\r\n"
                                                  u"    <IsCopy>0</IsCopy>\r\n"
                                                  u"</DoorRequest>\r\n"_s
                                               << u"0402"_s << u"R-1001"_s << u"张三"_s << false;

    // The comment takes position 10; the element after it is no longer read.
    QTest::newRow("comment shifts the copy flag")
        << TIssueRequest(u"0403"_s).Text().replace(u"<IsCopy>"_s, u"<!--1--><IsCopy>"_s)
        << u"0403"_s << u"R-1001"_s << u"张三"_s << true;

    QTest::newRow("comment as the room number")
        << TIssueRequest(u"XXXX"_s).Text().replace(u"<RoomNo>XXXX</RoomNo>"_s, u"<!--0404-->"_s)
        << u"0404"_s << u"R-1001"_s << u"张三"_s << false;

    TIssueRequest cdata(u"0405"_s);
    cdata.Guest = u"王<![CDATA[not part of the text]]>五"_s;
    QTest::newRow("CDATA") << cdata.Text().replace(u"<RegisterId>R-1001</RegisterId>"_s,
                                                   u"<![CDATA[R<7>]]>"_s)
                           << u"0405"_s << u"R<7>"_s << u"王"_s << false;

    TIssueRequest references(u"0406"_s);
    references.RegisterId = u"A&amp;B&#65;"_s;
    references.Guest = u"&lt;王&#x4E2D;&gt; &nbsp;"_s;
    QTest::newRow("references") << references.Text() << u"0406"_s << u"A&BA"_s << u"<王中> &nbsp;"_s
                                << false;

    QTest::newRow("element names do not matter")
        << u"<Anything type=\"IssueCard\"><x/><x>R-1001</x><x>00</x><x>01</x><x>0407</x>"
           u"<x>张三</x><x>2024-03-05</x><x>14:00</x><x>2024-03-07</x><x>12:00</x><x>0</x>"
           u"</Anything>"_s
        << u"0407"_s << u"R-1001"_s << u"张三"_s << false;

    QTest::newRow("processing instruction at position 0")
        << TIssueRequest(u"0408"_s).Text().replace(u"<RequestID>7</RequestID>"_s, u"<?pms v2?>"_s)
        << u"0408"_s << u"R-1001"_s << u"张三"_s << false;

    TIssueRequest beyond(u"0409"_s);
    beyond.Guest = u"王\U0001F600"_s;
    QTest::newRow("character beyond U+FFFF")
        << beyond.Text() << u"0409"_s << u"R-1001"_s << u"王\U0001F600"_s << false;
}

void TestProgramRequests::requestForms()
{
    QFETCH(QString, request);
    QFETCH(QString, room);
    QFETCH(QString, registerId);
    QFETCH(QString, guest);
    QFETCH(bool, isCopy);

    const TExchange exchange = Exchange(*m_plain, request.toUtf8());
    QVERIFY(exchange.Answer.Answered);
    QCOMPARE(exchange.Answer.Body, DoorResponse(u"200"_s, u"发卡成功"_s, u"202403071200"_s + room));
    QCOMPARE(exchange.Journal,
             QStringList{WCard(room, u"202403071200"_s, isCopy ? u"0"_s : u"1"_s)});
    QCOMPARE(exchange.Log.size(), 5);
    QCOMPARE(exchange.Log.at(3), u"房间("_s + room + u")发卡成功"_s);
    QCOMPARE(exchange.Records.size(), 1);
    const TIssueRecord& record = exchange.Records.at(0);
    QCOMPARE(record.RegisterId, registerId);
    QCOMPARE(record.RoomNo, u"0001"_s + room);
    QCOMPARE(record.GuestName, guest);
    QCOMPARE(record.IsCopy, isCopy);
}

void TestProgramRequests::blanksAroundRoomNumber()
{
    const TIssueRequest issue(u" 0101 "_s);
    const TExchange exchange = Exchange(*m_plain, issue.Bytes());
    QVERIFY(exchange.Answer.Answered);
    QCOMPARE(exchange.Answer.Body, DoorResponse(u"500"_s, u"发卡失败"_s, u"0"_s));
    QVERIFY(exchange.Journal.isEmpty());
    QCOMPARE(exchange.Log.mid(1),
             QStringList({u"执行操作->"_s, u"发卡失败,房号无法构成卡号: 0101 "_s,
                          u"房间( 0101 )发卡失败"_s, u"完成一次操作"_s}));
    QCOMPARE(exchange.Records.size(), 1);
    QCOMPARE(exchange.Records.at(0).CardNo, u"0"_s);
    QCOMPARE(exchange.Records.at(0).RoomNo, u"0001 0101 "_s);
}

void TestProgramRequests::copyFlag_data()
{
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QString>("kind");

    QTest::newRow("1") << u"1"_s << u"0"_s;
    QTest::newRow("true") << u"true"_s << u"0"_s;
    QTest::newRow("TRUE") << u"TRUE"_s << u"0"_s;
    QTest::newRow("-1") << u"-1"_s << u"0"_s;
    QTest::newRow("2.5") << u"2.5"_s << u"0"_s;
    QTest::newRow("0") << u"0"_s << u"1"_s;
    QTest::newRow("false") << u"false"_s << u"1"_s;
    QTest::newRow("yes") << u"yes"_s << u"1"_s;
    QTest::newRow("no") << u"no"_s << u"1"_s;
    QTest::newRow("empty") << QString() << u"1"_s;
}

void TestProgramRequests::copyFlag()
{
    QFETCH(QString, flag);
    QFETCH(QString, kind);

    TIssueRequest issue(u"0501"_s);
    issue.Copy = flag;
    const TExchange exchange = Exchange(*m_plain, issue.Bytes());
    QVERIFY(exchange.Answer.Answered);
    QCOMPARE(exchange.Journal, QStringList{WCard(u"0501"_s, u"202403071200"_s, kind)});
    QCOMPARE(exchange.Records.size(), 1);
    QCOMPARE(exchange.Records.at(0).IsCopy, kind == u"0"_s);
}

void TestProgramRequests::failedWriteIsRecorded_data()
{
    QTest::addColumn<bool>("roomStore");
    QTest::newRow("room store off") << false;
    QTest::newRow("room store on") << true;
}

void TestProgramRequests::failedWriteIsRecorded()
{
    QFETCH(bool, roomStore);

    TProgramInstance& program = roomStore ? *m_roomStore : *m_plain;
    TIssueRequest issue(roomStore ? u"0602"_s : u"0601"_s);
    issue.Building = u"B"_s;
    program.WriteFile(u"VeltraQuillon.ini"_s, "[Encoder]\r\nResult=0\r\n");
    const TExchange exchange = Exchange(program, issue.Bytes());
    QFile::remove(program.FilePath(u"VeltraQuillon.ini"_s));

    QVERIFY(exchange.Answer.Answered);
    QCOMPARE(exchange.Answer.Body, DoorResponse(u"500"_s, u"发卡失败"_s, u"0"_s));
    const QString end = roomStore ? u"202403071230"_s : u"202403071200"_s;
    QCOMPARE(exchange.Journal, QStringList{WCard(issue.Room, end, u"1"_s, u"0"_s)});
    QCOMPARE(
        exchange.Log.mid(2),
        QStringList({u"发卡失败0"_s, u"房间("_s + issue.Room + u")发卡失败"_s, u"完成一次操作"_s}));
    QCOMPARE(exchange.Records.size(), 1);
    QCOMPARE(exchange.Records.at(0).CardNo, u"0"_s);
    QCOMPARE(exchange.Records.at(0).RoomNo, issue.RoomKey());
    // A new card that was not written leaves the room's time alone.
    QVERIFY(RoomTimes(program, issue.RoomKey()).isEmpty());
}

void TestProgramRequests::fewerThanElevenPositions()
{
    TIssueRequest issue(u"0701"_s);
    issue.Copy = u"1"_s; // a copy card for a room without a time would add the room
    const QString request = issue.Text().remove(u"<RequestID>7</RequestID>"_s);
    const TExchange exchange = Exchange(*m_roomStore, request.toUtf8());
    QVERIFY(!exchange.Answer.Answered);
    QVERIFY(exchange.Answer.ClosedByPeer);
    QVERIFY(exchange.Answer.Body.isEmpty());
    QCOMPARE(exchange.Log, QStringList({u"收到消息: \r\n"_s + request, u"执行操作->"_s}));
    QVERIFY(exchange.Journal.isEmpty());
    QVERIFY(exchange.Records.isEmpty());
    QVERIFY(RoomTimes(*m_roomStore, issue.RoomKey()).isEmpty());
}

void TestProgramRequests::emptyRequest()
{
    const TExchange exchange = Exchange(*m_plain, QByteArray());
    QVERIFY(!exchange.Answer.Answered);
    QVERIFY(exchange.Answer.ClosedByPeer);
    QCOMPARE(exchange.Log, QStringList{u"收到消息: \r\n"_s});
    QVERIFY(exchange.Journal.isEmpty());
}

void TestProgramRequests::byteOrderMark()
{
    const TIssueRequest issue(u"0801"_s);
    const TExchange exchange = Exchange(*m_plain, "\xEF\xBB\xBF" + issue.Bytes());
    QVERIFY(exchange.Answer.Answered);
    QCOMPARE(exchange.Answer.Body, DoorResponse(u"200"_s, u"发卡成功"_s, u"2024030712000801"_s));
    QCOMPARE(exchange.Journal, QStringList{WCard(u"0801"_s, u"202403071200"_s, u"1"_s)});
    QCOMPARE(exchange.Records.size(), 1);
    QCOMPARE(exchange.Records.at(0).RoomNo, u"00010801"_s);
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
Q_DECLARE_METATYPE(StartRule)
Q_DECLARE_METATYPE(RoomAfter)

void TestProgramRequests::cardStartTime_data()
{
    QTest::addColumn<bool>("roomStore");
    QTest::addColumn<QString>("room");
    QTest::addColumn<bool>("isCopy");
    QTest::addColumn<bool>("seeded"); // the room has a stored time before the request
    QTest::addColumn<bool>("writeFails");
    QTest::addColumn<StartRule>("rule");
    QTest::addColumn<RoomAfter>("roomAfter");

    QTest::newRow("off, new card, stored time")
        << false << u"0901"_s << false << true << false << StartRule::AdjustedCheckIn
        << RoomAfter::StoredTime;
    QTest::newRow("off, copy card, stored time")
        << false << u"0902"_s << true << true << false << StartRule::AdjustedCheckIn
        << RoomAfter::StoredTime;
    QTest::newRow("off, copy card, no stored time")
        << false << u"0903"_s << true << false << false << StartRule::AdjustedCheckIn
        << RoomAfter::NoRow;
    QTest::newRow("on, new card, no stored time")
        << true << u"0904"_s << false << false << false << StartRule::NowMinusDelay
        << RoomAfter::StartTime;
    QTest::newRow("on, new card, stored time") << true << u"0905"_s << false << true << false
                                               << StartRule::NowMinusDelay << RoomAfter::StartTime;
    QTest::newRow("on, copy card, stored time")
        << true << u"0906"_s << true << true << false << StartRule::Stored << RoomAfter::StoredTime;
    QTest::newRow("on, copy card, no stored time")
        << true << u"0907"_s << true << false << false << StartRule::NowMinusDelay
        << RoomAfter::StartTime;
    QTest::newRow("on, copy card, no stored time, write fails")
        << true << u"0908"_s << true << false << true << StartRule::NowMinusDelay
        << RoomAfter::StartTime;
}

void TestProgramRequests::cardStartTime()
{
    QFETCH(bool, roomStore);
    QFETCH(QString, room);
    QFETCH(bool, isCopy);
    QFETCH(bool, seeded);
    QFETCH(bool, writeFails);
    QFETCH(StartRule, rule);
    QFETCH(RoomAfter, roomAfter);

    TProgramInstance& program = instance(roomStore);
    TIssueRequest issue(room);
    issue.Copy = isCopy ? u"1"_s : u"0"_s;
    if (seeded)
        Rows(program, u"insert into T_Room(RoomNo, LastCheckInTime) values(?, ?)"_s,
             {issue.RoomKey(), StoredTime});
    if (writeFails)
        program.WriteFile(u"VeltraQuillon.ini"_s, "[Encoder]\r\nResult=0\r\n");
    const TExchange exchange = Exchange(program, issue.Bytes());
    QFile::remove(program.FilePath(u"VeltraQuillon.ini"_s));

    QVERIFY(exchange.Answer.Answered);
    QCOMPARE(exchange.Answer.Body.contains("<ResultCode>200</ResultCode>"), !writeFails);
    QCOMPARE(exchange.Records.size(), 1);
    const TIssueRecord& record = exchange.Records.at(0);
    // The stay: check-in 15 minutes early, check-out 30 minutes late.
    QCOMPARE(DayCountText(record.CheckInTime), u"2024-03-05 13:45:00.000"_s);
    QCOMPARE(DayCountText(record.CheckOutTime), u"2024-03-07 12:30:00.000"_s);

    const double start = record.LastCheckInTime;
    switch (rule) {
    case StartRule::AdjustedCheckIn:
        QCOMPARE(DayCountText(start), u"2024-03-05 13:45:00.000"_s);
        QCOMPARE(Exact(start), Exact(record.CheckInTime));
        break;
    case StartRule::NowMinusDelay: {
        const qint64 delay = 15 * 60000;
        QVERIFY2(DayCountMs(start) >= exchange.BeforeMs - delay &&
                     DayCountMs(start) <= exchange.AfterMs - delay,
                 qPrintable(DayCountText(start)));
        break;
    }
    case StartRule::Stored:
        QCOMPARE(Exact(start), Exact(StoredTime));
        break;
    }

    QStringList expectedRoom;
    if (roomAfter == RoomAfter::StoredTime)
        expectedRoom = {Exact(StoredTime)};
    else if (roomAfter == RoomAfter::StartTime)
        expectedRoom = {Exact(start)};
    QCOMPARE(RoomTimes(program, issue.RoomKey()), expectedRoom);

    if (roomStore && isCopy && !seeded) {
        // The room is added before the card is written.
        const qsizetype added = exchange.Log.indexOf(u"新建房间"_s + issue.RoomKey());
        const qsizetype device = exchange.Log.indexOf(
            writeFails ? u"发卡失败0"_s : u"发卡成功,卡号为:202403071230"_s + room);
        QVERIFY(added > 1);
        QVERIFY(device > added);
    }
}

void TestProgramRequests::delayMinutes2OnCardEnd()
{
    TIssueRequest issue(u"1001"_s);
    issue.CheckOutDate = u"2024-03-05"_s;
    issue.CheckOutTime = u"12:00:00"_s;
    const TExchange exchange = Exchange(*m_delays, issue.Bytes());
    QCOMPARE(exchange.Answer.Body, DoorResponse(u"200"_s, u"发卡成功"_s, u"2024030512301001"_s));
    QCOMPARE(exchange.Journal, QStringList{WCard(u"1001"_s, u"202403051230"_s, u"1"_s)});
    QCOMPARE(DayCountText(exchange.Records.value(0).CheckOutTime), u"2024-03-05 12:30:00.000"_s);
}

QTEST_GUILESS_MAIN(TestProgramRequests)
#include "tst_programrequests.moc"
