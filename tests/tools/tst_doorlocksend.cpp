#include "ChildProcess.h"
#include "DoorAnswerUnit.h"
#include "DoorRequestTextUnit.h"
#include "DoorlockError.h"
#include "RequestDocumentUnit.h"
#include "SendCommandLineUnit.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// A stand-in for the interface on 127.0.0.1: records every byte a client sends on its
// connection, and once a NUL has arrived writes a fixed reply (or nothing) and maybe closes.
// Lives on the test's thread; it only serves while the event loop runs.
class TStandInServer : public QObject
{
public:
    struct TBehaviour
    {
        QByteArray Reply;
        bool CloseAfterReply = false;
        bool Silent = false;
    };

    explicit TStandInServer(TBehaviour behaviour) : m_behaviour(std::move(behaviour))
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] { Accept(); });
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    bool IsListening() const { return m_server.isListening(); }
    QString Port() const { return QString::number(m_server.serverPort()); }
    int Connections() const { return m_connections; }
    bool Ended() const { return m_ended; }
    const QByteArray& Received() const { return m_received; }

private:
    void Accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            ++m_connections;
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this] { m_ended = true; });
        }
    }

    void Read(QTcpSocket* socket)
    {
        m_received += socket->readAll();
        if (m_replied || m_behaviour.Silent || !m_received.contains('\0'))
            return;
        m_replied = true;
        socket->write(m_behaviour.Reply);
        if (m_behaviour.CloseAfterReply)
            socket->disconnectFromHost();
    }

    TBehaviour m_behaviour;
    QTcpServer m_server;
    int m_connections = 0;
    bool m_replied = false;
    bool m_ended = false;
    QByteArray m_received;
};

struct TRun
{
    int ExitCode = -1;
    QString Out;
    QString Err;
};

// Runs the real binary while the event loop goes on, so a stand-in server in this process
// keeps serving meanwhile. Check QTest::currentTestFailed() after the call.
void RunSend(const QStringList& arguments, TRun& run, const QByteArray& input = {})
{
    TChildProcess process;
    process.SetInput(input);
    QString error;
    QVERIFY2(process.Start(qEnvironmentVariable("DOORLOCK_BIN_DIR") + u"/doorlock-send"_s,
                           arguments, error),
             qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(process.Poll(), 120000);
    QVERIFY(process.ExitedNormally());
    run.ExitCode = process.ExitCode();
    run.Out = QString::fromUtf8(process.Out());
    run.Err = QString::fromUtf8(process.Err());
}

QByteArray Frame(const QString& text)
{
    return text.toUtf8() + QByteArray(1, '\0');
}

QString Answer(const QString& code, const QString& message, const QString& cardNo)
{
    return u"<DoorResponse><RequestID></RequestID><ResultCode>"_s + code +
           u"</ResultCode><ResultMessage>"_s + message + u"</ResultMessage><CardNo>"_s + cardNo +
           u"</CardNo></DoorResponse>"_s;
}

const QStringList IssueArguments = {u"issue"_s,
                                    u"--building"_s,
                                    u"00"_s,
                                    u"--floor"_s,
                                    u"01"_s,
                                    u"--room"_s,
                                    u"0101"_s,
                                    u"--guest"_s,
                                    u"Zhang San"_s,
                                    u"--checkin"_s,
                                    u"2024-03-05 14:00"_s,
                                    u"--checkout"_s,
                                    u"2024-03-07 12:00"_s};

QStringList WithProgram(const QStringList& arguments)
{
    return QStringList{u"doorlock-send"_s} + arguments;
}

// The same option list with one option's value replaced, or the option left out (empty value).
QStringList IssueArgumentsWith(const QString& option, const std::optional<QString>& value)
{
    QStringList arguments = IssueArguments;
    const qsizetype at = arguments.indexOf(option);
    if (value)
        arguments[at + 1] = *value;
    else
        arguments.remove(at, 2);
    return arguments;
}

QStringList Texts(const TRequestDocument& document)
{
    QStringList texts;
    for (qsizetype i = 0; i < document.PositionCount(); ++i)
        texts << document.ElementText(i);
    return texts;
}

} // namespace

class TestDoorlockSend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void issueRequest_data();
    void issueRequest();
    void operationRequest_data();
    void operationRequest();

    void commandLine_data();
    void commandLine();
    void commandLineErrors_data();
    void commandLineErrors();

    void parseAnswer_data();
    void parseAnswer();
    void unreadableAnswer_data();
    void unreadableAnswer();
    void describeShowsTheEndsOfTexts();

    void exchange_data();
    void exchange();
    void connectionRefused();
    void noAnswerInTime();
    void badUsageConnectsNowhere_data();
    void badUsageConnectsNowhere();
    void rawFileSentUnchanged();
    void rawFromStandardInput();
    void rawFileWithNulRefused();
};

void TestDoorlockSend::initTestCase()
{
    QVERIFY2(QFile::exists(qEnvironmentVariable("DOORLOCK_BIN_DIR") + u"/doorlock-send"_s),
             "DOORLOCK_BIN_DIR must name the folder that holds doorlock-send");
}

// The request is read back with the interface's own request reader, so the rows show what the
// interface will find at each position.
void TestDoorlockSend::issueRequest_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QByteArray>("bodyHolds");

    const QStringList plain = {u"42"_s,         u""_s,          u"00"_s,         u"01"_s,
                               u"0101"_s,       u"Zhang San"_s, u"2024-03-05"_s, u"14:00"_s,
                               u"2024-03-07"_s, u"12:00"_s,     u"0"_s};
    QTest::newRow("new card") << IssueArguments << plain << QByteArray("<IsCopy>0</IsCopy>");

    QStringList copy = plain;
    copy[1] = u"R0001"_s;
    copy[10] = u"1"_s;
    QTest::newRow("copy card with a registration id")
        << IssueArguments + QStringList{u"--copy"_s, u"--register"_s, u"R0001"_s} << copy
        << QByteArray("<IsCopy>1</IsCopy>");

    QStringList seconds = plain;
    seconds[7] = u"14:00:30"_s;
    seconds[9] = u"12:00:00"_s;
    QStringList both = IssueArgumentsWith(u"--checkin"_s, u"2024-03-05 14:00:30"_s);
    both[both.indexOf(u"--checkout"_s) + 1] = u"2024-03-07 12:00:00"_s;
    QTest::newRow("times with seconds") << both << seconds << QByteArray();

    QStringList markup = plain;
    markup[5] = u"Tom & <Jerry> \"T\" 'J'"_s;
    QTest::newRow("markup characters in the guest name are escaped")
        << IssueArgumentsWith(u"--guest"_s, markup[5]) << markup
        << QByteArray("Tom &amp; &lt;Jerry&gt; &quot;T&quot; &apos;J&apos;");

    QStringList chinese = plain;
    chinese[5] = u"张三"_s;
    QTest::newRow("Chinese guest name sent as UTF-8")
        << IssueArgumentsWith(u"--guest"_s, chinese[5]) << chinese
        << QByteArray("<GuestName>\xE5\xBC\xA0\xE4\xB8\x89</GuestName>");

    QStringList blanks = plain;
    blanks[4] = u" 0101 "_s;
    QTest::newRow("blanks around the room number passed on")
        << IssueArgumentsWith(u"--room"_s, blanks[4]) << blanks << QByteArray();

    QStringList emptyGuest = plain;
    emptyGuest[5] = QString();
    QTest::newRow("empty guest name given explicitly")
        << IssueArgumentsWith(u"--guest"_s, QString()) << emptyGuest << QByteArray();
}

void TestDoorlockSend::issueRequest()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, texts);
    QFETCH(QByteArray, bodyHolds);

    const TSendCommandLine commandLine = TSendCommandLine::Parse(WithProgram(arguments));
    QCOMPARE(commandLine.Command, TSendCommandLine::TCommand::Issue);
    const QByteArray body = TDoorRequestText::IssueCard(u"42", commandLine.Issue);
    QVERIFY(body.contains(bodyHolds));
    QVERIFY(!body.contains('\0'));

    const TRequestDocument document = TRequestDocument::Parse(QString::fromUtf8(body));
    QCOMPARE(document.RootAttribute(u"type"), u"IssueCard"_s);
    QCOMPARE(Texts(document), texts);
}

void TestDoorlockSend::operationRequest_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("type");
    QTest::newRow("read") << u"read"_s << u"ReadCard"_s;
    QTest::newRow("erase") << u"erase"_s << u"EraseCard"_s;
}

void TestDoorlockSend::operationRequest()
{
    QFETCH(QString, command);
    QFETCH(QString, type);

    const TSendCommandLine commandLine = TSendCommandLine::Parse(WithProgram({command}));
    QCOMPARE(commandLine.Command == TSendCommandLine::TCommand::Read, command == u"read");
    QCOMPARE(commandLine.Command == TSendCommandLine::TCommand::Erase, command == u"erase");

    const TRequestDocument document =
        TRequestDocument::Parse(QString::fromUtf8(TDoorRequestText::Operation(type, u"7")));
    QCOMPARE(document.RootAttribute(u"type"), type);
}

void TestDoorlockSend::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("printRequest");
    QTest::addColumn<QString>("rawFile");

    QTest::newRow("defaults") << QStringList{u"read"_s} << u"127.0.0.1"_s << 8886 << 30 << false
                              << QString();
    QTest::newRow("host, port, timeout and printing")
        << QStringList{u"erase"_s,     u"--host"_s, u"frontdesk.local"_s, u"--port"_s, u"9000"_s,
                       u"--timeout"_s, u"5"_s,      u"--print-request"_s}
        << u"frontdesk.local"_s << 9000 << 5 << true << QString();
    QTest::newRow("options written with =")
        << QStringList{u"read"_s, u"--port=8887"_s, u"--timeout=120"_s} << u"127.0.0.1"_s << 8887
        << 120 << false << QString();
    QTest::newRow("raw from a file") << QStringList{u"raw"_s, u"request.xml"_s} << u"127.0.0.1"_s
                                     << 8886 << 30 << false << u"request.xml"_s;
    QTest::newRow("raw from standard input")
        << QStringList{u"raw"_s, u"-"_s} << u"127.0.0.1"_s << 8886 << 30 << false << u"-"_s;
}

void TestDoorlockSend::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(int, timeout);
    QFETCH(bool, printRequest);
    QFETCH(QString, rawFile);

    const TSendCommandLine commandLine = TSendCommandLine::Parse(WithProgram(arguments));
    QCOMPARE(commandLine.Host, host);
    QCOMPARE(commandLine.Port, port);
    QCOMPARE(commandLine.TimeoutSeconds, timeout);
    QCOMPARE(commandLine.PrintRequest, printRequest);
    QCOMPARE(commandLine.RawFile, rawFile);
}

void TestDoorlockSend::commandLineErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("messageHolds");

    QTest::newRow("no command") << QStringList() << u"No command"_s;
    QTest::newRow("unknown command") << QStringList{u"issuecard"_s} << u"Unknown command"_s;
    QTest::newRow("unknown option") << QStringList{u"read"_s, u"--hots"_s, u"x"_s} << u"hots"_s;
    QTest::newRow("option without its value") << QStringList{u"read"_s, u"--port"_s} << u"port"_s;
    QTest::newRow("missing --room")
        << IssueArgumentsWith(u"--room"_s, std::nullopt) << u"issue needs --room"_s;
    QTest::newRow("empty --room") << IssueArgumentsWith(u"--room"_s, QString())
                                  << u"--room must not be empty"_s;
    QTest::newRow("missing --building")
        << IssueArgumentsWith(u"--building"_s, std::nullopt) << u"issue needs --building"_s;
    QTest::newRow("missing --checkout")
        << IssueArgumentsWith(u"--checkout"_s, std::nullopt) << u"issue needs --checkout"_s;
    QTest::newRow("date without leading zeros")
        << IssueArgumentsWith(u"--checkin"_s, u"2024-3-5 14:00"_s) << u"--checkin"_s;
    QTest::newRow("date and time joined by T")
        << IssueArgumentsWith(u"--checkin"_s, u"2024-03-05T14:00"_s) << u"--checkin"_s;
    QTest::newRow("date only") << IssueArgumentsWith(u"--checkout"_s, u"2024-03-07"_s)
                               << u"--checkout"_s;
    QTest::newRow("no such day") << IssueArgumentsWith(u"--checkout"_s, u"2023-02-29 12:00"_s)
                                 << u"--checkout"_s;
    QTest::newRow("no such hour") << IssueArgumentsWith(u"--checkin"_s, u"2024-03-05 24:00"_s)
                                  << u"--checkin"_s;
    QTest::newRow("blank after the time")
        << IssueArgumentsWith(u"--checkin"_s, u"2024-03-05 14:00 "_s) << u"--checkin"_s;
    QTest::newRow("issue option with read")
        << QStringList{u"read"_s, u"--room"_s, u"0101"_s} << u"--room belongs to the issue"_s;
    QTest::newRow("copy with erase") << QStringList{u"erase"_s, u"--copy"_s} << u"--copy"_s;
    QTest::newRow("repeated option")
        << IssueArguments + QStringList{u"--room"_s, u"0102"_s} << u"--room is given more than"_s;
    QTest::newRow("raw without a file") << QStringList{u"raw"_s} << u"FILE"_s;
    QTest::newRow("raw with two files") << QStringList{u"raw"_s, u"a"_s, u"b"_s} << u"FILE"_s;
    QTest::newRow("extra argument") << QStringList{u"read"_s, u"now"_s} << u"\"now\""_s;
    QTest::newRow("port zero") << QStringList{u"read"_s, u"--port"_s, u"0"_s} << u"--port"_s;
    QTest::newRow("port too high")
        << QStringList{u"read"_s, u"--port"_s, u"65536"_s} << u"--port"_s;
    QTest::newRow("port not a number")
        << QStringList{u"read"_s, u"--port"_s, u"http"_s} << u"--port"_s;
    QTest::newRow("timeout zero") << QStringList{u"read"_s, u"--timeout"_s, u"0"_s}
                                  << u"--timeout"_s;
    QTest::newRow("empty host") << QStringList{u"read"_s, u"--host"_s, u""_s} << u"--host"_s;
}

void TestDoorlockSend::commandLineErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, messageHolds);

    try {
        TSendCommandLine::Parse(WithProgram(arguments));
        QFAIL("the command line was accepted");
    } catch (const DoorlockError& error) {
        QVERIFY2(error.message().contains(messageHolds), qPrintable(error.message()));
    }
}

void TestDoorlockSend::parseAnswer_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("cardNo");
    QTest::addColumn<bool>("succeeded");

    QTest::newRow("card issued") << Answer(u"200"_s, u"发卡成功"_s, u"2024030712300101"_s).toUtf8()
                                 << u"200"_s << u"发卡成功"_s << u"2024030712300101"_s << true;
    QTest::newRow("card not issued") << Answer(u"500"_s, u"发卡失败"_s, u"0"_s).toUtf8() << u"500"_s
                                     << u"发卡失败"_s << u"0"_s << false;
    QTest::newRow("negative card number")
        << Answer(u"200"_s, u"读卡成功"_s, u"-9223372036854775808"_s).toUtf8() << u"200"_s
        << u"读卡成功"_s << u"-9223372036854775808"_s << true;
    QTest::newRow("trailing blank of the message kept")
        << Answer(u"200"_s, u"注销卡成功 "_s, u"0"_s).toUtf8() << u"200"_s << u"注销卡成功 "_s
        << u"0"_s << true;
    QTest::newRow("unknown code is no success")
        << Answer(u"404"_s, u"?"_s, u"0"_s).toUtf8() << u"404"_s << u"?"_s << u"0"_s << false;
    QTest::newRow("laid out with a declaration")
        << QByteArray("<?xml version=\"1.0\"?>\n<DoorResponse>\n <CardNo>5</CardNo>\n "
                      "<ResultMessage>ok</ResultMessage>\n <ResultCode>200</ResultCode>\n "
                      "<RequestID>x</RequestID>\n <Extra><a/></Extra>\n</DoorResponse>\n")
        << u"200"_s << u"ok"_s << u"5"_s << true;
}

void TestDoorlockSend::parseAnswer()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, code);
    QFETCH(QString, message);
    QFETCH(QString, cardNo);
    QFETCH(bool, succeeded);

    const TDoorAnswer answer = TDoorAnswer::Parse(bytes);
    QCOMPARE(answer.ResultCode, code);
    QCOMPARE(answer.ResultMessage, message);
    QCOMPARE(answer.CardNo, cardNo);
    QCOMPARE(answer.Succeeded(), succeeded);
}

void TestDoorlockSend::unreadableAnswer_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("plain text") << QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n");
    QTest::newRow("another root") << QByteArray(
        "<DoorRequest><ResultCode>200</ResultCode></DoorRequest>");
    QTest::newRow("cut off") << Answer(u"200"_s, u"ok"_s, u"1"_s).toUtf8().chopped(5);
    QTest::newRow("missing CardNo")
        << QByteArray("<DoorResponse><RequestID/><ResultCode>200</ResultCode>"
                      "<ResultMessage>ok</ResultMessage></DoorResponse>");
    QTest::newRow("field given twice")
        << QByteArray("<DoorResponse><RequestID/><ResultCode>200</ResultCode><ResultCode>500"
                      "</ResultCode><ResultMessage/><CardNo>0</CardNo></DoorResponse>");
    QTest::newRow("card number not a number") << Answer(u"200"_s, u"ok"_s, u"12a"_s).toUtf8();
    QTest::newRow("card number beyond 64 bits")
        << Answer(u"200"_s, u"ok"_s, u"9223372036854775808"_s).toUtf8();
    QTest::newRow("card number with blanks") << Answer(u"200"_s, u"ok"_s, u" 1"_s).toUtf8();
    QTest::newRow("markup inside a field") << Answer(u"200"_s, u"<b>ok</b>"_s, u"1"_s).toUtf8();
    QTest::newRow("not UTF-8") << Answer(u"500"_s, u"\xFF"_s, u"0"_s).toLatin1();
    QTest::newRow("junk after the root") << Answer(u"200"_s, u"ok"_s, u"1"_s).toUtf8() + "<x>";
}

void TestDoorlockSend::unreadableAnswer()
{
    QFETCH(QByteArray, bytes);
    QVERIFY_THROWS_EXCEPTION(DoorlockError, TDoorAnswer::Parse(bytes));
}

void TestDoorlockSend::describeShowsTheEndsOfTexts()
{
    const TDoorAnswer answer =
        TDoorAnswer::Parse(Answer(u"200"_s, u"注销卡成功 "_s, u"0"_s).toUtf8());
    QCOMPARE(answer.Describe(),
             u"RequestID: \"\"\nResultCode: 200\nResultMessage: \"注销卡成功 \"\n"
             u"CardNo: 0\n"_s);
}

// The real binary against a stand-in interface: exit status, what it prints, and the bytes
// that reached the interface.
void TestDoorlockSend::exchange_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("closeAfterReply");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("outHolds");
    QTest::addColumn<QString>("errHolds");

    QTest::newRow("issue answered 200")
        << IssueArguments << Frame(Answer(u"200"_s, u"发卡成功"_s, u"2024030712300101"_s)) << false
        << 0 << u"IssueCard"_s
        << u"ResultCode: 200\nResultMessage: \"发卡成功\"\nCardNo: 2024030712300101\n"_s
        << QString();
    QTest::newRow("issue answered 500")
        << IssueArguments << Frame(Answer(u"500"_s, u"发卡失败"_s, u"0"_s)) << false << 1
        << u"IssueCard"_s << u"ResultCode: 500\nResultMessage: \"发卡失败\"\nCardNo: 0\n"_s
        << QString();
    QTest::newRow("read answered with a negative card number")
        << QStringList{u"read"_s} << Frame(Answer(u"200"_s, u"读卡成功"_s, u"-42"_s)) << false << 0
        << u"ReadCard"_s << u"CardNo: -42\n"_s << QString();
    QTest::newRow("erase answered with the trailing blank")
        << QStringList{u"erase"_s} << Frame(Answer(u"200"_s, u"注销卡成功 "_s, u"0"_s)) << false
        << 0 << u"EraseCard"_s << u"ResultMessage: \"注销卡成功 \"\n"_s << QString();
    QTest::newRow("closed without an answer")
        << IssueArguments << QByteArray() << true << 2 << u"IssueCard"_s << QString()
        << u"The interface closed the connection without an answer"_s;
    QTest::newRow("answer that is no DoorResponse")
        << QStringList{u"read"_s} << Frame(u"<html>busy</html>"_s) << false << 3 << u"ReadCard"_s
        << QString() << u"The answer cannot be read"_s;
    QTest::newRow("answer ended by the close instead of a NUL")
        << QStringList{u"read"_s} << Answer(u"500"_s, u"读卡失败"_s, u"0"_s).toUtf8() << true << 1
        << u"ReadCard"_s << u"ResultCode: 500\n"_s << u"without its NUL terminator"_s;
    QTest::newRow("bytes after the answer's NUL ignored")
        << QStringList{u"erase"_s}
        << Frame(Answer(u"500"_s, u"注销卡失败 "_s, u"0"_s)) + QByteArray("trailing junk") << true
        << 1 << u"EraseCard"_s << u"ResultCode: 500\n"_s << QString();
}

void TestDoorlockSend::exchange()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, reply);
    QFETCH(bool, closeAfterReply);
    QFETCH(int, exitCode);
    QFETCH(QString, type);
    QFETCH(QString, outHolds);
    QFETCH(QString, errHolds);

    TStandInServer server({reply, closeAfterReply, false});
    QVERIFY(server.IsListening());
    TRun run;
    RunSend(arguments + QStringList{u"--port"_s, server.Port()}, run);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(run.Out.contains(outHolds), qPrintable(run.Out));
    QVERIFY2(run.Err.contains(errHolds), qPrintable(run.Err));
    QCOMPARE(run.ExitCode, exitCode);

    // Everything the client sent until it went away: the body and exactly one NUL, last.
    QTRY_VERIFY_WITH_TIMEOUT(server.Ended(), 60000);
    QCOMPARE(server.Connections(), 1);
    const QByteArray& received = server.Received();
    QCOMPARE(received.count('\0'), 1);
    QVERIFY(received.endsWith('\0'));
    const TRequestDocument document =
        TRequestDocument::Parse(QString::fromUtf8(received.chopped(1)));
    QCOMPARE(document.RootAttribute(u"type"), type);
}

void TestDoorlockSend::connectionRefused()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QString freePort = QString::number(probe.serverPort());
    probe.close();

    TRun run;
    RunSend({u"read"_s, u"--port"_s, freePort}, run);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(run.ExitCode, 3);
    QVERIFY2(run.Err.contains(u"Could not connect to 127.0.0.1:"_s + freePort),
             qPrintable(run.Err));
    QVERIFY(run.Out.isEmpty());
}

void TestDoorlockSend::noAnswerInTime()
{
    TStandInServer server({{}, false, true});
    QVERIFY(server.IsListening());
    TRun run;
    RunSend({u"read"_s, u"--port"_s, server.Port(), u"--timeout"_s, u"1"_s}, run);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(run.ExitCode, 3);
    QVERIFY2(run.Err.contains(u"No answer from 127.0.0.1:"_s), qPrintable(run.Err));
    QTRY_VERIFY_WITH_TIMEOUT(server.Ended(), 60000);
    QVERIFY(server.Received().endsWith('\0'));
}

void TestDoorlockSend::badUsageConnectsNowhere_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("errHolds");

    QTest::newRow("unreadable check-in")
        << IssueArgumentsWith(u"--checkin"_s, u"05.03.2024 14:00"_s)
        << u"--checkin \"05.03.2024 14:00\" is not a date and time"_s;
    QTest::newRow("request longer than the interface takes")
        << IssueArgumentsWith(u"--guest"_s, QString(16384, u'x'))
        << u"the interface takes at most 16384"_s;
    QTest::newRow("missing room") << IssueArgumentsWith(u"--room"_s, std::nullopt)
                                  << u"issue needs --room"_s;
}

void TestDoorlockSend::badUsageConnectsNowhere()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, errHolds);

    TStandInServer server({Frame(Answer(u"200"_s, u"ok"_s, u"0"_s)), true, false});
    QVERIFY(server.IsListening());
    TRun run;
    RunSend(arguments + QStringList{u"--port"_s, server.Port()}, run);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(run.ExitCode, 64);
    QVERIFY2(run.Err.contains(errHolds), qPrintable(run.Err));
    QVERIFY2(run.Err.contains(u"--help"_s), qPrintable(run.Err));
    QVERIFY(run.Out.isEmpty());
    // A connection would have been made before the process ended; one pass of the event loop
    // lets the server take it.
    QCoreApplication::processEvents();
    QCOMPARE(server.Connections(), 0);
}

void TestDoorlockSend::rawFileSentUnchanged()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    // Bytes the tool would never write itself: CR LF, a byte order mark, a lower-case type.
    const QByteArray content =
        "\xEF\xBB\xBF<Req TYPE=\" readcard \">\r\n<a>&#x4E2D;</a>\r\n</Req>\r\n";
    QFile file(folder.filePath(u"request.xml"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    TStandInServer server({QByteArray(), true, false});
    QVERIFY(server.IsListening());
    TRun run;
    RunSend({u"raw"_s, file.fileName(), u"--port"_s, server.Port(), u"--print-request"_s}, run);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(run.ExitCode, 2);
    QVERIFY2(run.Out.contains(QString::fromUtf8(content)), qPrintable(run.Out));
    QTRY_VERIFY_WITH_TIMEOUT(server.Ended(), 60000);
    QCOMPARE(server.Received(), content + QByteArray(1, '\0'));
}

void TestDoorlockSend::rawFromStandardInput()
{
    const QByteArray content = "<r type=\"ReadCard\"/>";
    TStandInServer server({Frame(Answer(u"200"_s, u"读卡成功"_s, u"7"_s)), false, false});
    QVERIFY(server.IsListening());
    TRun run;
    RunSend({u"raw"_s, u"-"_s, u"--port"_s, server.Port()}, run, content);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(run.ExitCode, 0);
    QVERIFY2(run.Out.contains(u"CardNo: 7\n"_s), qPrintable(run.Out));
    QTRY_VERIFY_WITH_TIMEOUT(server.Ended(), 60000);
    QCOMPARE(server.Received(), content + QByteArray(1, '\0'));
}

// A NUL inside the file would end the request early at the interface; the tool refuses
// rather than send half a request.
void TestDoorlockSend::rawFileWithNulRefused()
{
    TStandInServer server({QByteArray(), true, false});
    QVERIFY(server.IsListening());
    TRun run;
    RunSend({u"raw"_s, u"-"_s, u"--port"_s, server.Port()}, run,
            QByteArray("<r type=\"ReadCard\"/>\0<r type=\"EraseCard\"/>", 42));
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(run.ExitCode, 64);
    QVERIFY2(run.Err.contains(u"NUL byte at offset 20"_s), qPrintable(run.Err));
    QCoreApplication::processEvents();
    QCOMPARE(server.Connections(), 0);
}

QTEST_GUILESS_MAIN(TestDoorlockSend)
#include "tst_doorlocksend.moc"
