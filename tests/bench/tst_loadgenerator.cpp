#include "DoorRequestsUnit.h"
#include "FileDescriptorUnit.h"
#include "IdleConnectionsUnit.h"
#include "LatencySummaryUnit.h"
#include "LoadOptionsUnit.h"
#include "LoadRunnerUnit.h"
#include "LoopbackAddressUnit.h"
#include "ReadinessProbeUnit.h"
#include "ReferenceServerUnit.h"

#include <QtTest>

#include <arpa/inet.h>
#include <memory>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>

Q_DECLARE_METATYPE(std::vector<std::string>)

using namespace Qt::Literals::StringLiterals;

namespace {

using namespace std::chrono_literals;

// The reference server on its own thread for the length of a test.
class TRunningServer
{
public:
    TRunningServer() : m_server(0, TReferenceServer::DefaultAnswer())
    {
        m_thread = std::thread([this] { m_server.Run(); });
    }
    ~TRunningServer() { Stop(); }

    void Stop()
    {
        if (m_thread.joinable()) {
            m_server.Stop();
            m_thread.join();
        }
    }
    TReferenceServer& Server() { return m_server; }
    sockaddr_in Address() const { return LoopbackAddress::Resolve("127.0.0.1", m_server.Port()); }

private:
    TReferenceServer m_server;
    std::thread m_thread;
};

// A socket bound to a loopback port: listening (connects succeed, nothing is ever answered)
// or not (connects are refused). Holding it keeps the port from anyone else.
sockaddr_in BoundPort(TFileDescriptor& socket, bool listening)
{
    socket.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = LoopbackAddress::Resolve("127.0.0.1", 0);
    socklen_t length = sizeof address;
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (listening && ::listen(socket.Get(), 64) != 0) ||
        ::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot bind a loopback socket");
    return address;
}

TLoadPlan Plan(const sockaddr_in& address, std::vector<std::string> requests, int concurrency,
               std::uint64_t count)
{
    TLoadPlan plan;
    plan.Address = address;
    plan.Requests = std::move(requests);
    plan.Concurrency = concurrency;
    plan.MaxRequests = count;
    plan.Duration = 120s;
    plan.Timeout = 30s;
    return plan;
}

} // namespace

class TestLoadGenerator : public QObject
{
    Q_OBJECT

private slots:
    void hostsOutsideLoopbackAreRefused_data();
    void hostsOutsideLoopbackAreRefused();
    void commandLine_data();
    void commandLine();
    void percentilesAreNearestRank();
    void answersAreJudgedByTheirResultCode_data();
    void answersAreJudgedByTheirResultCode();
    void roundTripsAreAllAnsweredAtEveryConcurrency_data();
    void roundTripsAreAllAnsweredAtEveryConcurrency();
    void theBodyLimitOfTheProtocolHolds_data();
    void theBodyLimitOfTheProtocolHolds();
    void refusedConnectsAreCountedAsErrors();
    void aServerThatNeverAnswersTimesOut();
    void idleConnectionsStayOpenWhileRoundTripsGoOn();
    void probeReportsTheFirstAnswer();
    void probeGivesUpWhenNothingListens();
};

void TestLoadGenerator::hostsOutsideLoopbackAreRefused_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("the loopback address") << u"127.0.0.1"_s << true;
    QTest::newRow("another address of 127/8") << u"127.45.6.7"_s << true;
    QTest::newRow("localhost") << u"localhost"_s << true;
    QTest::newRow("a private network address") << u"10.0.0.1"_s << false;
    QTest::newRow("a public address") << u"8.8.8.8"_s << false;
    QTest::newRow("the wildcard address") << u"0.0.0.0"_s << false;
    QTest::newRow("just past 127/8") << u"128.0.0.1"_s << false;
    QTest::newRow("a host name") << u"example.com"_s << false;
    QTest::newRow("an address out of range") << u"127.0.0.256"_s << false;
    QTest::newRow("IPv6 loopback (the interface listens on IPv4)") << u"::1"_s << false;
    QTest::newRow("empty") << u""_s << false;
}

void TestLoadGenerator::hostsOutsideLoopbackAreRefused()
{
    QFETCH(QString, host);
    QFETCH(bool, accepted);
    bool resolved = false;
    try {
        const sockaddr_in address = LoopbackAddress::Resolve(host.toStdString(), 8886);
        resolved = true;
        QCOMPARE(ntohs(address.sin_port), 8886);
    } catch (const std::invalid_argument&) {
    }
    QCOMPARE(resolved, accepted);
}

void TestLoadGenerator::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error"); // empty: accepted

    QTest::newRow("a port is all it needs") << QStringList{u"--port"_s, u"8886"_s} << u""_s;
    QTest::newRow("values after '='")
        << QStringList{u"--port=8886"_s, u"--concurrency=64"_s, u"--duration=2.5"_s} << u""_s;
    QTest::newRow("paced idle connections")
        << QStringList{u"--port"_s, u"1"_s, u"--idle"_s, u"100"_s, u"--idle-rate"_s, u"500"_s}
        << u""_s;
    QTest::newRow("hold mode") << QStringList{u"--port"_s, u"1"_s,      u"--idle"_s,
                                              u"10000"_s,  u"--hold"_s, u"60"_s}
                               << u""_s;
    QTest::newRow("free port needs no port") << QStringList{u"--free-port"_s} << u""_s;
    QTest::newRow("no port") << QStringList{u"--concurrency"_s, u"8"_s} << u"--port is required"_s;
    QTest::newRow("port out of range")
        << QStringList{u"--port"_s, u"65536"_s} << u"--port must lie"_s;
    QTest::newRow("no concurrency") << QStringList{u"--port"_s, u"1"_s, u"--concurrency"_s, u"0"_s}
                                    << u"--concurrency must lie"_s;
    QTest::newRow("requests beyond the bound")
        << QStringList{u"--port"_s, u"1"_s, u"--requests"_s, u"100000001"_s}
        << u"--requests must lie"_s;
    QTest::newRow("an hour at most")
        << QStringList{u"--port"_s, u"1"_s, u"--duration"_s, u"3601"_s} << u"--duration must lie"_s;
    QTest::newRow("not a number") << QStringList{u"--port"_s, u"1"_s, u"--requests"_s, u"10k"_s}
                                  << u"--requests needs a number"_s;
    QTest::newRow("hold without idle connections")
        << QStringList{u"--port"_s, u"1"_s, u"--hold"_s, u"5"_s} << u"--hold needs --idle"_s;
    QTest::newRow("more threads than connections")
        << QStringList{u"--port"_s, u"1"_s, u"--threads"_s, u"4"_s, u"--concurrency"_s, u"2"_s}
        << u"--threads"_s;
    QTest::newRow("a value missing at the end")
        << QStringList{u"--port"_s} << u"--port needs a value"_s;
    QTest::newRow("unknown option")
        << QStringList{u"--port"_s, u"1"_s, u"--fast"_s} << u"unknown option"_s;
}

void TestLoadGenerator::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    std::vector<std::string> list;
    for (const QString& argument : arguments)
        list.push_back(argument.toStdString());
    try {
        TLoadOptions::Parse(list);
        QVERIFY2(error.isEmpty(), "accepted, expected an error");
    } catch (const std::invalid_argument& e) {
        QVERIFY2(!error.isEmpty() && QString::fromStdString(e.what()).contains(error), e.what());
    }
}

void TestLoadGenerator::percentilesAreNearestRank()
{
    std::vector<std::uint64_t> samples;
    for (std::uint64_t i = 200; i >= 1; --i)
        samples.push_back(i); // 1..200, unsorted
    const TLatencySummary summary = TLatencySummary::Of(samples);
    QCOMPARE(summary.Count, 200u);
    QCOMPARE(summary.P50Us, 100u);
    QCOMPARE(summary.P99Us, 198u);
    QCOMPARE(summary.MaxUs, 200u);
    QCOMPARE(summary.MeanUs, 100.5);

    QCOMPARE(TLatencySummary::Of({7}).P99Us, 7u);
    QCOMPARE(TLatencySummary::Of({}).P50Us, 0u);
}

void TestLoadGenerator::answersAreJudgedByTheirResultCode_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("success");
    QTest::newRow("the reference answer")
        << QString::fromStdString(TReferenceServer::DefaultAnswer()) << true;
    QTest::newRow("a failed read") << u"<DoorResponse><RequestID></RequestID><ResultCode>500"
                                      u"</ResultCode></DoorResponse>"_s
                                   << false;
    QTest::newRow("a code that only begins with 200")
        << u"<DoorResponse><ResultCode>2001</ResultCode></DoorResponse>"_s << false;
    QTest::newRow("no result code") << u"<DoorResponse></DoorResponse>"_s << false;
    QTest::newRow("empty") << u""_s << false;
}

void TestLoadGenerator::answersAreJudgedByTheirResultCode()
{
    QFETCH(QString, answer);
    QFETCH(bool, success);
    QCOMPARE(TLoadRunner::IsSuccessAnswer(answer.toStdString()), success);
}

void TestLoadGenerator::roundTripsAreAllAnsweredAtEveryConcurrency_data()
{
    QTest::addColumn<int>("concurrency");
    QTest::addColumn<std::vector<std::string>>("requests");
    QTest::newRow("one at a time, ReadCard") << 1 << DoorRequests::ForType("ReadCard", 1);
    QTest::newRow("8 at once, IssueCard for 8 rooms") << 8 << DoorRequests::ForType("IssueCard", 8);
    QTest::newRow("64 at once, EraseCard") << 64 << DoorRequests::ForType("EraseCard", 1);
}

void TestLoadGenerator::roundTripsAreAllAnsweredAtEveryConcurrency()
{
    QFETCH(int, concurrency);
    QFETCH(std::vector<std::string>, requests);
    TRunningServer running;
    const TLoadResult result =
        TLoadRunner(Plan(running.Address(), requests, concurrency, 300)).Run();
    QCOMPARE(result.Started, 300u);
    QCOMPARE(result.Answered, 300u);
    QCOMPARE(result.Ok, 300u);
    QCOMPARE(result.Errors(), 0u);
    QCOMPARE(result.LatenciesUs.size(), 300u);
    running.Stop();
    QCOMPARE(running.Server().Answered(), 300u);
    QCOMPARE(running.Server().Dropped(), 0u);
}

void TestLoadGenerator::theBodyLimitOfTheProtocolHolds_data()
{
    QTest::addColumn<int>("bodyBytes");
    QTest::addColumn<bool>("answered");
    QTest::newRow("an empty body") << 0 << true;
    QTest::newRow("16384 bytes, the longest body") << 16384 << true;
    QTest::newRow("16385 bytes") << 16385 << false;
    QTest::newRow("far too long") << 200000 << false;
}

void TestLoadGenerator::theBodyLimitOfTheProtocolHolds()
{
    QFETCH(int, bodyBytes);
    QFETCH(bool, answered);
    TRunningServer running;
    const std::string body(std::size_t(bodyBytes), 'x');
    const TLoadResult result = TLoadRunner(Plan(running.Address(), {body}, 2, 4)).Run();
    QCOMPARE(result.Answered, answered ? 4u : 0u);
    QCOMPARE(result.NoAnswer, answered ? 0u : 4u);
    QCOMPARE(result.TimedOut + result.Refused + result.OtherErrors, 0u);
}

void TestLoadGenerator::refusedConnectsAreCountedAsErrors()
{
    TFileDescriptor closedPort;
    const sockaddr_in address = BoundPort(closedPort, false);
    const TLoadResult result = TLoadRunner(Plan(address, {DoorRequests::ReadCard()}, 4, 20)).Run();
    QCOMPARE(result.Started, 20u);
    QCOMPARE(result.Refused, 20u);
    QCOMPARE(result.Answered, 0u);
    QVERIFY(result.LatenciesUs.empty());
}

void TestLoadGenerator::aServerThatNeverAnswersTimesOut()
{
    TFileDescriptor silent;
    TLoadPlan plan = Plan(BoundPort(silent, true), {DoorRequests::ReadCard()}, 3, 3);
    plan.Timeout = 200ms;
    const TLoadResult result = TLoadRunner(plan).Run();
    QCOMPARE(result.TimedOut, 3u);
    QCOMPARE(result.Answered, 0u);
}

void TestLoadGenerator::idleConnectionsStayOpenWhileRoundTripsGoOn()
{
    TRunningServer running;
    TIdleConnections idle;
    idle.Open(running.Address(), 200, 30s, 16);
    QCOMPARE(idle.Held(), 200u);
    QCOMPARE(idle.Failed(), 0u);

    // Paced connects end the same way, only later.
    idle.Open(running.Address(), 50, 30s, 16, 5000);
    QCOMPARE(idle.Held(), 250u);

    const TLoadResult result =
        TLoadRunner(Plan(running.Address(), {DoorRequests::ReadCard()}, 4, 100)).Run();
    QCOMPARE(result.Answered, 100u);
    QCOMPARE(idle.ClosedByPeer(), 0u);

    // Stopping the server closes every connection it holds, the silent ones included.
    running.Stop();
    QCOMPARE(running.Server().Answered(), 100u);
    QCOMPARE(running.Server().Dropped(), 250u);
    QCOMPARE(idle.ClosedByPeer(), 250u);
}

void TestLoadGenerator::probeReportsTheFirstAnswer()
{
    TRunningServer running;
    const auto readiness =
        ReadinessProbe::WaitForAnswer(running.Address(), DoorRequests::ReadCard(), 30s);
    QVERIFY(readiness.has_value());
    QVERIFY(readiness->FirstConnectNs > 0);
    QVERIFY(readiness->FirstAnswerNs >= readiness->FirstConnectNs);
    QCOMPARE(readiness->Attempts, 1u);
}

void TestLoadGenerator::probeGivesUpWhenNothingListens()
{
    TFileDescriptor closedPort;
    const auto readiness = ReadinessProbe::WaitForAnswer(BoundPort(closedPort, false),
                                                         DoorRequests::ReadCard(), 100ms);
    QVERIFY(!readiness.has_value());
}

QTEST_GUILESS_MAIN(TestLoadGenerator)
#include "tst_loadgenerator.moc"
