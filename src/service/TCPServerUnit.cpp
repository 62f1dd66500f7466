#include "TCPServerUnit.h"

#include "DoorlockError.h"
#include "RequestDecoderUnit.h"
#include "RequestFramerUnit.h"
#include "SocketIoUnit.h"
#include "SocketWatcherUnit.h"
#include "ThreadInboxUnit.h"
#include "WorkerPoolUnit.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTimer>
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int ListenBacklog = 15;
constexpr std::chrono::milliseconds DeactivationPoll{250};
constexpr int DeactivationPolls = 20;
constexpr std::chrono::milliseconds AcceptRetryDelay{100};

// Hands each accepted socket over as it is, without a QTcpSocket around it: the listener drives
// connections itself (see TSocketWatcher).
class TListeningSocket : public QTcpServer
{
public:
    explicit TListeningSocket(std::function<void(qintptr)> accepted)
        : m_accepted(std::move(accepted))
    {}

protected:
    void incomingConnection(qintptr socket) override { m_accepted(socket); }

private:
    const std::function<void(qintptr)> m_accepted;
};

// Lets one thread wait until another has done something.
class TDoneSignal
{
public:
    void Set()
    {
        // Notified under the lock: the waiter owns this object and destroys it once it returns.
        std::lock_guard lock(m_mutex);
        m_done = true;
        m_changed.notify_all();
    }
    void Wait()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_done; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_done = false;
};

} // namespace

// The listener's working parts. Members say which thread touches them or what guards them.
class TTCPServer::TCore
{
public:
    explicit TCore(TExecute execute) : m_execute(std::move(execute)) {}

    struct TListenResult
    {
        bool ok = false;
        QString message;
        quint16 port = 0;
    };

    // The network thread's whole life: its event loop runs until QuitLoop.
    void RunNetworkThread(TDoneSignal& started);

    // Network thread.
    TListenResult StartListening(quint16 port);
    void StopListening();
    void CloseEverything();
    void QuitLoop() { m_loop->quit(); }

    // Worker threads.
    void Serve(qintptr socket, const QByteArray& body);

    // Any thread.
    void Post(std::function<void()> command) { m_inbox->Post(std::move(command)); }
    int OpenCount() const;
    bool WaitUntilAllClosed(std::chrono::steady_clock::time_point deadline);

    // Set before the network thread starts, never changed afterwards.
    TWorkerPool* m_pool = nullptr;

private:
    enum class TPhase
    {
        Reading,  // waiting for request bytes
        Handling, // the request is with a worker; the socket is not watched meanwhile
        Writing,  // the answer is being written
    };

    struct TPeer
    {
        TRequestFramer framer;
        TPhase phase = TPhase::Reading;
        QByteArray output;
        qsizetype written = 0;
    };

    // Network thread. Peers are keyed by their socket, which stays open until Close.
    void Accept(qintptr socket);
    void SocketReady(qintptr socket);
    void ReadRequest(qintptr socket, TPeer& peer);
    void WriteAnswer(qintptr socket, const QByteArray& bytes);
    void WriteOn(qintptr socket, TPeer& peer);
    void Close(qintptr socket);
    void ChangeOpenCount(int delta);

    const TExecute m_execute;

    // Set by the network thread before the constructor returns, valid until it ends.
    TThreadInbox* m_inbox = nullptr;
    QEventLoop* m_loop = nullptr;
    TSocketWatcher* m_watcher = nullptr;

    QTcpServer* m_listener = nullptr;           // network thread
    std::unordered_map<qintptr, TPeer> m_peers; // network thread

    mutable std::mutex m_countMutex;
    std::condition_variable m_countChanged;
    int m_openCount = 0; // guarded by m_countMutex
};

void TTCPServer::TCore::RunNetworkThread(TDoneSignal& started)
{
    QEventLoop loop;
    TThreadInbox inbox;
    TSocketWatcher watcher([this](qintptr socket) { SocketReady(socket); });
    m_loop = &loop;
    m_inbox = &inbox;
    m_watcher = &watcher;
    started.Set();
    loop.exec();
    // Notifiers ended during the last round are still waiting for their deferred deletion.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TTCPServer::TCore::TListenResult TTCPServer::TCore::StartListening(quint16 port)
{
    TListenResult result;
    auto listener = std::make_unique<TListeningSocket>([this](qintptr socket) { Accept(socket); });
    listener->setListenBacklogSize(ListenBacklog);
    if (!listener->listen(QHostAddress::AnyIPv4, port)) {
        result.message = listener->serverError() == QAbstractSocket::AddressInUseError
                             ? u"Could not bind socket. Address and port are already in use."_s
                             : listener->errorString();
        return result;
    }
    // QTcpServer stops accepting after an error it does not consider passing (no descriptors
    // left, say); the listener must go on serving, so it tries again a little later.
    QTcpServer* const server = listener.get();
    QObject::connect(server, &QTcpServer::acceptError, server, [server] {
        QTimer::singleShot(AcceptRetryDelay, server, [server] { server->resumeAccepting(); });
    });
    result.ok = true;
    result.port = listener->serverPort();
    m_listener = listener.release();
    return result;
}

void TTCPServer::TCore::StopListening()
{
    delete m_listener; // closes the listening socket
    m_listener = nullptr;

    std::vector<qintptr> waiting;
    for (const auto& [socket, peer] : m_peers) {
        if (peer.phase == TPhase::Reading)
            waiting.push_back(socket);
    }
    for (const qintptr socket : waiting)
        Close(socket);
}

void TTCPServer::TCore::CloseEverything()
{
    // Runs after the answers of every finished procedure were queued; what the socket takes now
    // still goes out, the rest is cut off.
    StopListening();
    std::vector<qintptr> open;
    for (const auto& [socket, peer] : m_peers)
        open.push_back(socket);
    for (const qintptr socket : open) {
        auto it = m_peers.find(socket);
        if (it != m_peers.end() && it->second.phase == TPhase::Writing)
            WriteOn(socket, it->second);
        Close(socket);
    }
}

void TTCPServer::TCore::Accept(qintptr socket)
{
    if (!SocketIo::SetNonBlocking(socket)) {
        SocketIo::Close(socket);
        return;
    }
    m_peers.try_emplace(socket);
    ChangeOpenCount(+1);
    // Most peers send their request with the connect: reading at once spares them a round of
    // the event loop and the socket a watch that would end straight away.
    ReadRequest(socket, m_peers[socket]);
}

void TTCPServer::TCore::SocketReady(qintptr socket)
{
    const auto it = m_peers.find(socket);
    if (it == m_peers.end())
        return;
    if (it->second.phase == TPhase::Reading)
        ReadRequest(socket, it->second);
    else if (it->second.phase == TPhase::Writing)
        WriteOn(socket, it->second);
}

void TTCPServer::TCore::ReadRequest(qintptr socket, TPeer& peer)
{
    // Reading stops once the request is complete, so neither later bytes nor the peer's
    // half-close can end the connection before its answer is written.
    std::array<char, 4096> chunk;
    for (;;) {
        const SocketIo::TResult got = SocketIo::Receive(socket, chunk.data(), chunk.size());
        switch (got.status) {
        case SocketIo::TStatus::WouldBlock:
            if (!m_watcher->Watch(socket, TSocketWatcher::TInterest::Read))
                Close(socket);
            return;
        case SocketIo::TStatus::Ended:
        case SocketIo::TStatus::Failed:
            Close(socket);
            return;
        case SocketIo::TStatus::Done:
            break;
        }
        switch (peer.framer.Feed(QByteArrayView(chunk.data(), got.bytes))) {
        case TRequestFramer::TState::NeedMore:
            continue;
        case TRequestFramer::TState::TooLong:
            Close(socket);
            return;
        case TRequestFramer::TState::Complete:
            peer.phase = TPhase::Handling;
            m_watcher->Watch(socket, TSocketWatcher::TInterest::None);
            m_pool->Post([this, socket, body = peer.framer.Body()] { Serve(socket, body); });
            return;
        }
    }
}

void TTCPServer::TCore::Serve(qintptr socket, const QByteArray& body)
{
    TConnection connection;
    try {
        m_execute(connection, DecodeRequest(body));
    } catch (...) {
        // The procedure's failure ends its connection and nothing else; whatever it sent before
        // failing still goes out.
    }
    Post([this, socket, bytes = connection.TakeOutput()] { WriteAnswer(socket, bytes); });
}

void TTCPServer::TCore::WriteAnswer(qintptr socket, const QByteArray& bytes)
{
    auto it = m_peers.find(socket);
    if (it == m_peers.end())
        return;
    if (bytes.isEmpty()) {
        Close(socket);
        return;
    }
    it->second.phase = TPhase::Writing;
    it->second.output = bytes;
    WriteOn(socket, it->second);
}

void TTCPServer::TCore::WriteOn(qintptr socket, TPeer& peer)
{
    while (peer.written < peer.output.size()) {
        const SocketIo::TResult sent = SocketIo::Send(
            socket, peer.output.constData() + peer.written, peer.output.size() - peer.written);
        if (sent.status == SocketIo::TStatus::WouldBlock) {
            if (!m_watcher->Watch(socket, TSocketWatcher::TInterest::Write))
                Close(socket);
            return;
        }
        // A peer that has gone loses its answer quietly.
        if (sent.status != SocketIo::TStatus::Done) {
            Close(socket);
            return;
        }
        peer.written += sent.bytes;
    }
    // The peer sees the end of the stream right after the answer.
    SocketIo::ShutdownSending(socket);
    Close(socket);
}

void TTCPServer::TCore::Close(qintptr socket)
{
    if (m_peers.erase(socket) == 0)
        return;
    m_watcher->Watch(socket, TSocketWatcher::TInterest::None);
    SocketIo::Close(socket);
    ChangeOpenCount(-1);
}

void TTCPServer::TCore::ChangeOpenCount(int delta)
{
    {
        std::lock_guard lock(m_countMutex);
        m_openCount += delta;
    }
    m_countChanged.notify_all();
}

int TTCPServer::TCore::OpenCount() const
{
    std::lock_guard lock(m_countMutex);
    return m_openCount;
}

bool TTCPServer::TCore::WaitUntilAllClosed(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(m_countMutex);
    return m_countChanged.wait_until(lock, deadline, [this] { return m_openCount == 0; });
}

template <typename Function> void TTCPServer::CallInNetworkThread(Function&& function)
{
    TDoneSignal done;
    m_core->Post([&function, &done] {
        function();
        done.Set();
    });
    done.Wait();
}

TTCPServer::TTCPServer(TExecute execute)
    : m_core(std::make_unique<TCore>(std::move(execute))),
      m_pool(std::make_unique<TWorkerPool>(WorkerCount))
{
    m_core->m_pool = m_pool.get();
    TDoneSignal started;
    m_networkThread = std::thread([this, &started] { m_core->RunNetworkThread(started); });
    started.Wait();
}

TTCPServer::~TTCPServer()
{
    try {
        Deactivate();
    } catch (...) {
        // A timeout is not news during destruction: the wait below covers it.
    }
    // Running procedures finish and their answers are queued; jobs not yet started are dropped.
    m_pool.reset();
    CallInNetworkThread([this] {
        m_core->CloseEverything();
        m_core->QuitLoop();
    });
    m_networkThread.join();
}

void TTCPServer::Activate(quint16 port)
{
    if (m_active)
        return;
    TCore::TListenResult result;
    CallInNetworkThread([this, port, &result] { result = m_core->StartListening(port); });
    if (!result.ok)
        throw DoorlockError(result.message);
    m_active = true;
    m_port = result.port;
}

void TTCPServer::Deactivate()
{
    if (!m_active)
        return;
    m_active = false;
    m_port = 0;
    CallInNetworkThread([this] { m_core->StopListening(); });
    // Checked at once and again whenever a connection closes, for at most twenty polls' time.
    const auto deadline = std::chrono::steady_clock::now() + DeactivationPolls * DeactivationPoll;
    if (!m_core->WaitUntilAllClosed(deadline))
        throw DoorlockError(u"Terminate Thread Timeout"_s);
}

int TTCPServer::ConnectionCount() const
{
    return m_core->OpenCount();
}
