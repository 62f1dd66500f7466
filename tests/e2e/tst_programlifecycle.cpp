// The real program: start-up, framing limits on the wire, shutdown.

#include "ProgramInstance.h"

#include <QTcpServer>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A ReadCard request padded with a comment to exactly `size` bytes.
QByteArray paddedReadCard(qsizetype size)
{
    const QByteArray head = "<Request type=\"ReadCard\"><!--";
    const QByteArray tail = "--></Request>";
    return head + QByteArray(size - head.size() - tail.size(), 'x') + tail;
}

int openSilentConnection(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when the peer ended the stream (or reset it) within the time.
bool seesEndOfStream(int fd, int timeoutMs)
{
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, timeoutMs) <= 0)
        return false;
    char byte;
    return ::recv(fd, &byte, 1, 0) <= 0;
}

} // namespace

class TestProgramLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void startsWithDefaultsAndEndsOnSigterm()
    {
        TProgramInstance program;
        QVERIFY(program.Start());
        QVERIFY(!QFile::exists(program.FilePath(u"Option.ini.bak"_s)));
        const QByteArray optionsBefore = program.ReadFile(u"Option.ini"_s);
        const auto answer = program.Request("<R type=\"ReadCard\"/>");
        QVERIFY(answer.Answered);
        QCOMPARE(program.Terminate(), 0);
        // Nothing writes the settings file on the way in or out.
        QCOMPARE(program.ReadFile(u"Option.ini"_s), optionsBefore);
        QVERIFY(program.Log().contains(u"完成一次操作"_s));
    }

    void requestSizeLimit_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<qsizetype>("chunk");
        QTest::addColumn<bool>("answered");
        QTest::newRow("16384 in one piece") << qsizetype(16384) << qsizetype(0) << true;
        QTest::newRow("16385 in one piece") << qsizetype(16385) << qsizetype(0) << false;
        QTest::newRow("16384 in pieces") << qsizetype(16384) << qsizetype(977) << true;
        QTest::newRow("16385 in pieces") << qsizetype(16385) << qsizetype(977) << false;
    }
    void requestSizeLimit()
    {
        QFETCH(qsizetype, size);
        QFETCH(qsizetype, chunk);
        QFETCH(bool, answered);
        TProgramInstance program;
        QVERIFY(program.Start());
        const auto answer = program.Request(paddedReadCard(size), true, 20000, chunk);
        QCOMPARE(answer.Answered, answered);
        if (!answered) {
            QVERIFY(answer.ClosedByPeer);
            QVERIFY(answer.Body.isEmpty());
            // A refused request never reaches the handler.
            QVERIFY(!program.Log().contains(u"收到消息"_s));
        }
        // The listener goes on serving others.
        QVERIFY(program.Request("<R type=\"ReadCard\"/>").Answered);
        QCOMPARE(program.Terminate(), 0);
    }

    void framingDetails()
    {
        TProgramInstance program;
        QVERIFY(program.Start());

        // A terminator first is an empty request: logged, never answered.
        const auto empty = program.Request(QByteArray());
        QVERIFY(!empty.Answered);
        QVERIFY(empty.ClosedByPeer);
        QVERIFY(program.Log().endsWith(u" 收到消息: \r\n\r\n"_s));

        // Bytes after the terminator are never read as a second request.
        const auto first = program.Request("<R type=\"EraseCard\"/>\0<R type=\"ReadCard\"/>"_ba);
        QVERIFY(first.Answered);
        QVERIFY(first.Body.contains("注销卡"));
        QCOMPARE(program.Journal().size(), 1);
        QVERIFY(program.Journal().at(0).startsWith(u"L_Card|"_s));

        // Line breaks in the body are the request's own.
        QVERIFY(program.Request("<R type=\"ReadCard\"/>\r\n").Answered);
        QVERIFY(program.Log().contains(u"<R type=\"ReadCard\"/>\r\n\r\n"_s));

        // The answer is the UTF-8 text and one terminator, then the end of the stream.
        const auto read = program.Request("<R type=\"ReadCard\"/>");
        QCOMPARE(read.Body, "<DoorResponse><RequestID></RequestID><ResultCode>500</ResultCode>"
                            "<ResultMessage>读卡失败</ResultMessage><CardNo>0</CardNo>"
                            "</DoorResponse>");
        QCOMPARE(program.Terminate(), 0);
    }

    void silentConnectionsAreClosedAtShutdown()
    {
        TProgramInstance program;
        QVERIFY(program.Start());
        QList<int> silent;
        for (int i = 0; i < 20; ++i) {
            const int fd = openSilentConnection(program.Port());
            QVERIFY(fd >= 0);
            silent << fd;
        }
        // A half-sent request keeps its connection waiting too.
        QVERIFY(::send(silent.first(), "<R type=", 8, MSG_NOSIGNAL) == 8);
        QVERIFY(program.Request("<R type=\"ReadCard\"/>").Answered);
        QCOMPARE(program.Terminate(), 0);
        for (int fd : silent) {
            QVERIFY(seesEndOfStream(fd, 5000));
            ::close(fd);
        }
        QVERIFY(!program.StdOut().contains(u"Terminate Thread Timeout"_s));
    }

    void portInUse()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::AnyIPv4));
        TProgramInstance program;
        program.WriteOptions(u"[SysOption]\r\nDoorlockPortNo="_s +
                             QString::number(holder.serverPort()) + u"\r\n"_s);
        QVERIFY(!program.Start(3000));
        QVERIFY(program.Running());
        QTRY_VERIFY(program.StdOut().contains(
            u"Could not bind socket. Address and port are already in use."_s));
        // The error box does not keep a shutdown from ending the program.
        QCOMPARE(program.Terminate(), 0);
    }

    void startsWithoutTheDatabaseAndUsesItOnceItAppears()
    {
        TProgramInstance program;
        const QByteArray database = program.ReadFile(u"Client.db"_s);
        QVERIFY(QFile::remove(program.FilePath(u"Client.db"_s)));
        program.WriteOptions(u"[DoorlockOption]\r\nUseNativeDoorlockDb=1\r\n"_s);
        QVERIFY(program.Start());
        // One entry, the store's own message, before anything else.
        const QStringList startLog = program.Log().split(u"\r\n"_s, Qt::SkipEmptyParts);
        QCOMPARE(startLog.size(), 1);
        QVERIFY(startLog.at(0).contains(u"unable to open database file"_s));

        const QByteArray issue =
            "<R type=\"IssueCard\"><a/><b/><c>00</c><d>01</d><e>0101</e><f>Li</f>"
            "<g>2024-03-05</g><h>14:00</h><i>2024-03-07</i><j>12:00</j><k>0</k></R>";
        QVERIFY(program.Request(issue).Body.contains("<ResultCode>200</ResultCode>"));
        QVERIFY(!program.Log().contains(u"新建房间"_s));

        program.WriteFile(u"Client.db"_s, database);
        QVERIFY(program.Request(issue).Body.contains("<ResultCode>200</ResultCode>"));
        QVERIFY(program.Log().contains(u"新建房间00010101"_s));
        QCOMPARE(program.Terminate(), 0);
    }

    void fourByteCharactersAreServed()
    {
        TProgramInstance program;
        QVERIFY(program.Start());
        const QByteArray request =
            u"<R type=\"IssueCard\"><a/><b>R1</b><c>00</c><d>01</d><e>0101</e><f>王😀</f>"
            u"<g>2024-03-05</g><h>14:00</h><i>2024-03-07</i><j>12:00</j><k>0</k></R>"_s.toUtf8();
        const auto answer = program.Request(request);
        QVERIFY(answer.Answered);
        QVERIFY(answer.Body.contains("<ResultCode>200</ResultCode>"));
        QVERIFY(program.Log().contains(u"<f>王😀</f>"_s) || program.Log().contains(u"<f>王?</f>"_s));
        QCOMPARE(program.Terminate(), 0);
    }
};

QTEST_GUILESS_MAIN(TestProgramLifecycle)
#include "tst_programlifecycle.moc"
