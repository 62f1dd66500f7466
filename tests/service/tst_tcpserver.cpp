#include "DoorlockError.h"
#include "FileDescriptorLimitUnit.h"
#include "RequestDecoderUnit.h"
#include "TCPServerUnit.h"

#include <QDir>
#include <QTest>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Generous, only so that a fault ends the test instead of hanging it.
constexpr int WaitMs = 30000;

// A blocking client on 127.0.0.1, as a hotel system would open one.
class TClient
{
public:
    // A socket not yet connected.
    TClient() : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {}

    explicit TClient(quint16 port) : TClient() { Connect(port); }

    bool Connect(quint16 port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd >= 0 &&
            ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            Close();
        return IsConnected();
    }

    // The socket's descriptor number (-1 once closed).
    int Descriptor() const { return m_fd; }

    ~TClient() { Close(); }
    TClient(const TClient&) = delete;
    TClient& operator=(const TClient&) = delete;

    bool IsConnected() const { return m_fd >= 0; }

    // False when the server has already closed the connection.
    bool Send(QByteArrayView bytes)
    {
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n =
                ::send(m_fd, bytes.data() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }

    // Sends the bytes in pieces, pausing between them so that they arrive separately.
    bool SendInPieces(QByteArrayView bytes, qsizetype pieceSize)
    {
        for (qsizetype at = 0; at < bytes.size(); at += pieceSize) {
            if (!Send(bytes.sliced(at, std::min(pieceSize, bytes.size() - at))))
                return false;
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }

    void ShutdownSending() { ::shutdown(m_fd, SHUT_WR); }

    // Closes so that the server sees a reset rather than an orderly end.
    void Reset()
    {
        const linger abortive{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        Close();
    }

    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    // Everything up to the end of the stream (a reset counts as an end too). Ended() tells
    // whether the end came before the time ran out.
    QByteArray ReadToEnd(int timeoutMs = WaitMs)
    {
        QByteArray received;
        m_ended = false;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd poller{m_fd, POLLIN, 0};
            const int ready = ::poll(&poller, 1, 100);
            if (ready <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_ended = true;
                break;
            }
            received.append(buffer, n);
        }
        return received;
    }

    bool Ended() const { return m_ended; }

    // True when nothing has arrived and the stream has not ended within the time.
    bool StaysOpenFor(int ms)
    {
        pollfd poller{m_fd, POLLIN, 0};
        return ::poll(&poller, 1, ms) == 0;
    }

private:
    int m_fd = -1;
    bool m_ended = false;
};

// The per-connection procedure of the tests; its behaviour is chosen by the request text.
//   "silent"          returns without an answer
//   "throw"           throws before answering
//   "answer+throw"    answers, then throws
//   "block"           waits until released, then answers "[block]"
//   "big:N"           answers N times "x"
//   anything else     answers "[" + text + "]"
class TProcedure
{
public:
    void Execute(TConnection& connection, const QString& request)
    {
        {
            std::lock_guard lock(m_mutex);
            m_requests.append(request);
        }
        if (request == u"silent")
            return;
        if (request == u"throw")
            throw DoorlockError(u"procedure failed"_s);
        if (request == u"answer+throw") {
            connection.SendResponse(u"[answered]"_s);
            throw std::runtime_error("after the answer");
        }
        if (request.startsWith(u"big:")) {
            connection.SendResponse(QString(request.sliced(4).toInt(), u'x'));
            return;
        }
        if (request == u"block") {
            std::unique_lock lock(m_mutex);
            ++m_blocked;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_released; });
        }
        connection.SendResponse(u'[' + request + u']');
    }

    QStringList Requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    bool WaitUntilBlocked(int count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(WaitMs),
                                  [&] { return m_blocked >= count; });
    }

    void Release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_released = true;
        }
        m_changed.notify_all();
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QStringList m_requests;
    int m_blocked = 0;
    bool m_released = false;
};

QByteArray Terminated(QByteArray body)
{
    body.append('\0');
    return body;
}

QByteArray Framed(const QString& text)
{
    return EncodeResponse(text);
}

// True once connecting to the port is refused, i.e. the listener has closed its socket.
bool WaitUntilRefused(quint16 port)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!TClient(port).IsConnected())
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// Opens connections no faster than the listener takes them: its backlog is small (15), and a full
// backlog makes the kernel drop handshakes that the client then retries only a second later.
bool OpenConnections(std::vector<std::unique_ptr<TClient>>& clients, int count,
                     const TTCPServer& server, quint16 port)
{
    constexpr int InFlight = 8;
    const int base = server.ConnectionCount();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitMs);
    for (int i = 0; i < count; ++i) {
        while (i - (server.ConnectionCount() - base) >= InFlight) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(100us);
        }
        clients.push_back(std::make_unique<TClient>(port));
        if (!clients.back()->IsConnected())
            return false;
    }
    return true;
}

#ifdef Q_OS_LINUX
int ThreadCount()
{
    return int(QDir(u"/proc/self/task"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}
#endif

} // namespace

class TestTCPServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void answersOneRequest_data();
    void answersOneRequest();
    void answersRequestSentInPieces_data();
    void answersRequestSentInPieces();
    void refusesOversizedRequest_data();
    void refusesOversizedRequest();
    void peerClosingEarlyNeverReachesProcedure();
    void peerHalfClosingAfterRequestIsAnswered();
    void handlesOnlyTheFirstRequest();
    void closesWithoutAnswer_data();
    void closesWithoutAnswer();
    void keepsAnswerSentBeforeFailure();
    void answerLargerThanSocketBufferArrivesWhole();
    void peerResetWhileHandledLosesOnlyItsAnswer();
    void reportsPortInUse();
    void answersManyConcurrentConnections();
    void slowProcedureDoesNotDelayOthers();
    void idleConnectionsDoNotBlockOthers();
    void keepsAcceptingAfterRunningOutOfDescriptors();
    void deactivateClosesWaitingConnectionsAtOnce();
    void deactivateLetsRunningRequestFinish();
    void deactivateTimesOutOnEndlessProcedure();
    void canBeActivatedAgain();
    void destructorJoinsEverything();

private:
    void MakeServer();

    std::shared_ptr<TProcedure> m_procedure;
    std::unique_ptr<TTCPServer> m_server;
    quint16 m_port = 0;
    int m_threadsAtStart = 0;
};

void TestTCPServer::initTestCase()
{
    RaiseFileDescriptorLimit();
#ifdef Q_OS_LINUX
    m_threadsAtStart = ThreadCount();
#endif
}

void TestTCPServer::MakeServer()
{
    m_procedure = std::make_shared<TProcedure>();
    m_server = std::make_unique<TTCPServer>(
        [procedure = m_procedure](TConnection& connection, const QString& request) {
            procedure->Execute(connection, request);
        });
}

void TestTCPServer::init()
{
    MakeServer();
    m_server->Activate(0);
    QVERIFY(m_server->IsActive());
    m_port = m_server->Port();
    QVERIFY(m_port != 0);
}

void TestTCPServer::cleanup()
{
    // Whatever a test left blocked must not hold up the destruction.
    if (m_procedure)
        m_procedure->Release();
    m_server.reset();
    m_procedure.reset();
}

void TestTCPServer::answersOneRequest_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("text");

    QTest::newRow("ascii") << "<Request type=\"ReadCard\"/>\0"_ba
                           << u"<Request type=\"ReadCard\"/>"_s;
    QTest::newRow("chinese") << "<Name>\xE5\xBC\xA0\xE4\xB8\x89</Name>\0"_ba
                             << u"<Name>张三</Name>"_s;
    QTest::newRow("four-byte character")
        << "<Name>\xF0\xA0\x80\x80</Name>\0"_ba << u"<Name>\U00020000</Name>"_s;
    QTest::newRow("byte order mark") << "\xEF\xBB\xBF<a/>\0"_ba << u"\uFEFF<a/>"_s;
    QTest::newRow("CR LF kept") << "<a/>\r\n\0"_ba << u"<a/>\r\n"_s;
    QTest::newRow("terminator first") << "\0"_ba << QString();
    QTest::newRow("broken UTF-8 gives empty text") << "<a>\xE5\xBC</a>\0"_ba << QString();
}

void TestTCPServer::answersOneRequest()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, text);

    TClient client(m_port);
    QVERIFY(client.IsConnected());
    QVERIFY(client.Send(request));
    QCOMPARE(client.ReadToEnd(), Framed(u'[' + text + u']'));
    QVERIFY(client.Ended());
    QCOMPARE(m_procedure->Requests(), QStringList{text});
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ConnectionCount(), 0, WaitMs);
}

void TestTCPServer::answersRequestSentInPieces_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("pieceSize");

    QTest::newRow("short request, byte by byte") << "<Request type=\"ReadCard\"/>"_ba << 1;
    QTest::newRow("longest body in one piece") << QByteArray(16384, 'x') << 16385;
    QTest::newRow("longest body in many pieces") << QByteArray(16384, 'x') << 1000;
    QTest::newRow("longest body, terminator alone") << QByteArray(16384, 'x') << 16384;
}

void TestTCPServer::answersRequestSentInPieces()
{
    QFETCH(QByteArray, body);
    QFETCH(int, pieceSize);

    TClient client(m_port);
    QVERIFY(client.IsConnected());
    QVERIFY(client.SendInPieces(Terminated(body), pieceSize));
    const QString text = QString::fromLatin1(body);
    QCOMPARE(client.ReadToEnd(), Framed(u'[' + text + u']'));
    QVERIFY(client.Ended());
    QCOMPARE(m_procedure->Requests(), QStringList{text});
}

void TestTCPServer::refusesOversizedRequest_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("pieceSize");

    const QByteArray tooLong(16385, 'x');
    QTest::newRow("one too long in one piece") << Terminated(tooLong) << 16386;
    QTest::newRow("one too long in many pieces") << Terminated(tooLong) << 1000;
    QTest::newRow("no terminator, past the limit") << tooLong << 16385;
    QTest::newRow("flood") << QByteArray(1 << 20, 'f') << (1 << 20);
}

void TestTCPServer::refusesOversizedRequest()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, pieceSize);

    TClient client(m_port);
    QVERIFY(client.IsConnected());
    // The server may close while the bytes are still going out; that is the expected outcome.
    client.SendInPieces(bytes, pieceSize);
    QCOMPARE(client.ReadToEnd(), QByteArray());
    QVERIFY(client.Ended());
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ConnectionCount(), 0, WaitMs);
    QCOMPARE(m_procedure->Requests(), QStringList());
}

void TestTCPServer::peerClosingEarlyNeverReachesProcedure()
{
    {
        TClient client(m_port);
        QVERIFY(client.IsConnected());
        QVERIFY(client.Send("<Request type=\"ReadCard\">"_ba));
        QTRY_COMPARE_WITH_TIMEOUT(m_server->ConnectionCount(), 1, WaitMs);
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ConnectionCount(), 0, WaitMs);

    // The listener goes on serving others.
    TClient next(m_port);
    QVERIFY(next.Send("next\0"_ba));
    QCOMPARE(next.ReadToEnd(), Framed(u"[next]"_s));
    QCOMPARE(m_procedure->Requests(), QStringList{u"next"_s});
}

void TestTCPServer::peerHalfClosingAfterRequestIsAnswered()
{
    TClient client(m_port);
    QVERIFY(client.Send("block\0"_ba));
    client.ShutdownSending();
    QVERIFY(m_procedure->WaitUntilBlocked(1));
    // Time for the listener to see the end of the peer's stream while the request is handled.
    std::this_thread::sleep_for(200ms);
    m_procedure->Release();
    QCOMPARE(client.ReadToEnd(), Framed(u"[block]"_s));
    QVERIFY(client.Ended());
}

void TestTCPServer::handlesOnlyTheFirstRequest()
{
    TClient client(m_port);
    QVERIFY(client.Send("first\0second\0third"_ba));
    QCOMPARE(client.ReadToEnd(), Framed(u"[first]"_s));
    QVERIFY(client.Ended());
    QCOMPARE(m_procedure->Requests(), QStringList{u"first"_s});
}

void TestTCPServer::closesWithoutAnswer_data()
{
    QTest::addColumn<QByteArray>("request");

    QTest::newRow("procedure returns without answer") << "silent\0"_ba;
    QTest::newRow("procedure throws") << "throw\0"_ba;
}

void TestTCPServer::closesWithoutAnswer()
{
    QFETCH(QByteArray, request);

    TClient client(m_port);
    QVERIFY(client.Send(request));
    QCOMPARE(client.ReadToEnd(), QByteArray());
    QVERIFY(client.Ended());
    QCOMPARE(m_procedure->Requests().size(), 1);

    // Nothing escaped: the listener still serves.
    TClient next(m_port);
    QVERIFY(next.Send("next\0"_ba));
    QCOMPARE(next.ReadToEnd(), Framed(u"[next]"_s));
}

void TestTCPServer::keepsAnswerSentBeforeFailure()
{
    TClient client(m_port);
    QVERIFY(client.Send("answer+throw\0"_ba));
    QCOMPARE(client.ReadToEnd(), Framed(u"[answered]"_s));
    QVERIFY(client.Ended());
}

void TestTCPServer::answerLargerThanSocketBufferArrivesWhole()
{
    // Far beyond what the socket takes at once: the rest must wait for the peer to read.
    constexpr int Length = 16 * 1024 * 1024;
    TClient client(m_port);
    QVERIFY(client.Send(Terminated("big:" + QByteArray::number(Length))));
    QTRY_VERIFY_WITH_TIMEOUT(m_procedure->Requests().size() == 1, WaitMs);
    std::this_thread::sleep_for(200ms);
    const QByteArray received = client.ReadToEnd();
    QVERIFY(client.Ended());
    QCOMPARE(received.size(), Length + 1);
    QCOMPARE(received, Framed(QString(Length, u'x')));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ConnectionCount(), 0, WaitMs);
}

void TestTCPServer::peerResetWhileHandledLosesOnlyItsAnswer()
{
    TClient gone(m_port);
    QVERIFY(gone.Send(Terminated("block")));
    QVERIFY(m_procedure->WaitUntilBlocked(1));
    gone.Reset();

    TClient other(m_port);
    QVERIFY(other.Send(Terminated("other")));
    QCOMPARE(other.ReadToEnd(), Framed(u"[other]"_s));

    m_procedure->Release();
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ConnectionCount(), 0, WaitMs);
    TClient after(m_port);
    QVERIFY(after.Send(Terminated("after")));
    QCOMPARE(after.ReadToEnd(), Framed(u"[after]"_s));
}

void TestTCPServer::reportsPortInUse()
{
    TTCPServer second([](TConnection&, const QString&) {});
    try {
        second.Activate(m_port);
        QFAIL("Activate on a port in use did not fail");
    } catch (const DoorlockError& error) {
        QCOMPARE(error.message(), u"Could not bind socket. Address and port are already in use."_s);
    }
    QVERIFY(!second.IsActive());
    QCOMPARE(second.Port(), quint16(0));

    // The first listener is untouched.
    TClient client(m_port);
    QVERIFY(client.Send("still here\0"_ba));
    QCOMPARE(client.ReadToEnd(), Framed(u"[still here]"_s));
}

void TestTCPServer::answersManyConcurrentConnections()
{
    constexpr int Count = 200;
    std::vector<std::unique_ptr<TClient>> clients;
    QVERIFY(OpenConnections(clients, Count, *m_server, m_port));
    for (int i = 0; i < Count; ++i)
        QVERIFY(clients[i]->Send(Terminated(QByteArray::number(i))));
    for (int i = 0; i < Count; ++i) {
        QCOMPARE(clients[i]->ReadToEnd(), Framed(u'[' + QString::number(i) + u']'));
        QVERIFY(clients[i]->Ended());
    }
    QCOMPARE(m_procedure->Requests().size(), Count);
}

void TestTCPServer::slowProcedureDoesNotDelayOthers()
{
    TClient slow(m_port);
    QVERIFY(slow.Send("block\0"_ba));
    QVERIFY(m_procedure->WaitUntilBlocked(1));

    TClient other(m_port);
    QVERIFY(other.Send("other\0"_ba));
    QCOMPARE(other.ReadToEnd(), Framed(u"[other]"_s));

    m_procedure->Release();
    QCOMPARE(slow.ReadToEnd(), Framed(u"[block]"_s));
}

void TestTCPServer::idleConnectionsDoNotBlockOthers()
{
    constexpr int IdleCount = 2000;
    // Each idle connection holds a descriptor on both ends here.
    if (RaiseFileDescriptorLimit() < 2 * IdleCount + 200)
        QSKIP("The descriptor limit is too low for this many connections");

    std::vector<std::unique_ptr<TClient>> idle;
    QVERIFY(OpenConnections(idle, IdleCount, *m_server, m_port));
    // Half of them have begun a request and then gone quiet.
    for (int i = 0; i < IdleCount; i += 2)
        QVERIFY(idle[i]->Send("<Request type="_ba));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ConnectionCount(), IdleCount, WaitMs);

    TClient busy(m_port);
    QVERIFY(busy.Send("busy\0"_ba));
    QCOMPARE(busy.ReadToEnd(), Framed(u"[busy]"_s));
    QVERIFY(busy.Ended());

    QVERIFY(idle.front()->StaysOpenFor(0));
    m_server->Deactivate();
    QCOMPARE(m_server->ConnectionCount(), 0);
    for (const auto& client : idle) {
        QCOMPARE(client->ReadToEnd(), QByteArray());
        QVERIFY(client->Ended());
    }
}

void TestTCPServer::keepsAcceptingAfterRunningOutOfDescriptors()
{
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);

    // The client's socket exists before the descriptors run out; connecting needs no new one,
    // but the listener needs one to accept it.
    TClient probe;
    QVERIFY(probe.Descriptor() >= 0);
    // Take every descriptor the process may still open.
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(probe.Descriptor()) + 1;
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
        fillers.push_back(fd);

    const bool connected = probe.Connect(m_port);
    // Give the listener time to fail accepting it.
    std::this_thread::sleep_for(300ms);
    const int acceptedWhileExhausted = m_server->ConnectionCount();

    for (const int fd : fillers)
        ::close(fd);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &saved), 0);
    QVERIFY(connected);
    QCOMPARE(acceptedWhileExhausted, 0);

    QVERIFY(probe.Send("after\0"_ba));
    QCOMPARE(probe.ReadToEnd(), Framed(u"[after]"_s));
    QVERIFY(probe.Ended());
}

void TestTCPServer::deactivateClosesWaitingConnectionsAtOnce()
{
    TClient silent(m_port);
    TClient partial(m_port);
    QVERIFY(partial.Send("<Request type=\"IssueCard\">"_ba));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ConnectionCount(), 2, WaitMs);

    m_server->Deactivate(); // must not throw
    QVERIFY(!m_server->IsActive());
    QCOMPARE(m_server->Port(), quint16(0));
    QCOMPARE(m_server->ConnectionCount(), 0);

    QCOMPARE(silent.ReadToEnd(), QByteArray());
    QVERIFY(silent.Ended());
    QCOMPARE(partial.ReadToEnd(), QByteArray());
    QVERIFY(partial.Ended());
    QVERIFY(!TClient(m_port).IsConnected());
    QCOMPARE(m_procedure->Requests(), QStringList());
}

void TestTCPServer::deactivateLetsRunningRequestFinish()
{
    TClient running(m_port);
    QVERIFY(running.Send("block\0"_ba));
    QVERIFY(m_procedure->WaitUntilBlocked(1));
    TClient waiting(m_port);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ConnectionCount(), 2, WaitMs);

    // Released only once deactivation has begun, i.e. the listener is gone.
    std::thread releaser([port = m_port, procedure = m_procedure] {
        WaitUntilRefused(port);
        procedure->Release();
    });
    m_server->Deactivate(); // must not throw
    releaser.join();

    QCOMPARE(m_server->ConnectionCount(), 0);
    QCOMPARE(running.ReadToEnd(), Framed(u"[block]"_s));
    QVERIFY(running.Ended());
    QCOMPARE(waiting.ReadToEnd(), QByteArray());
    QVERIFY(waiting.Ended());
}

void TestTCPServer::deactivateTimesOutOnEndlessProcedure()
{
    TClient running(m_port);
    QVERIFY(running.Send("block\0"_ba));
    QVERIFY(m_procedure->WaitUntilBlocked(1));

    try {
        m_server->Deactivate();
        QFAIL("Deactivate did not time out");
    } catch (const DoorlockError& error) {
        QCOMPARE(error.message(), u"Terminate Thread Timeout"_s);
    }
    QVERIFY(!m_server->IsActive());
    QVERIFY(!TClient(m_port).IsConnected());
    QCOMPARE(m_server->ConnectionCount(), 1);

    // The connection still gets its answer once the procedure is done.
    m_procedure->Release();
    QCOMPARE(running.ReadToEnd(), Framed(u"[block]"_s));
    QVERIFY(running.Ended());
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ConnectionCount(), 0, WaitMs);
}

void TestTCPServer::canBeActivatedAgain()
{
    m_server->Deactivate();
    m_server->Activate(0);
    QVERIFY(m_server->IsActive());
    TClient client(m_server->Port());
    QVERIFY(client.Send("again\0"_ba));
    QCOMPARE(client.ReadToEnd(), Framed(u"[again]"_s));
}

void TestTCPServer::destructorJoinsEverything()
{
    m_server.reset();
    MakeServer();
    m_server->Activate(0);
    const quint16 port = m_server->Port();

    TClient idle(port);
    TClient running(port);
    QVERIFY(running.Send("block\0"_ba));
    QVERIFY(m_procedure->WaitUntilBlocked(1));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ConnectionCount(), 2, WaitMs);

    std::thread releaser([port, procedure = m_procedure] {
        WaitUntilRefused(port);
        procedure->Release();
    });
    m_server.reset();
    releaser.join();

    QCOMPARE(running.ReadToEnd(), Framed(u"[block]"_s));
    QVERIFY(running.Ended());
    QCOMPARE(idle.ReadToEnd(), QByteArray());
    QVERIFY(idle.Ended());
#ifdef Q_OS_LINUX
    // A finished QThread may take a moment to leave the process after wait() returns.
    QTRY_COMPARE_WITH_TIMEOUT(ThreadCount(), m_threadsAtStart, WaitMs);
#endif
}

QTEST_GUILESS_MAIN(TestTCPServer)
#include "tst_tcpserver.moc"
