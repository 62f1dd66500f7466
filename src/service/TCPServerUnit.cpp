#include "TCPServerUnit.h"

#include "DoorlockError.h"
#include "RequestDecoderUnit.h"
#include "RequestFramerUnit.h"
#include "ThreadInboxUnit.h"
#include "WorkerPoolUnit.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>
#include <vector>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int ListenBacklog = 15;
constexpr std::chrono::milliseconds DeactivationPoll{250};
constexpr int DeactivationPolls = 20;
constexpr std::chrono::milliseconds AcceptRetryDelay{100};

// The peer sees the end of the stream right after the answer, before the socket goes.
void ShutdownSending(QTcpSocket& socket)
{
    const qintptr descriptor = socket.socketDescriptor();
    if (descriptor == -1)
        return;
#ifdef Q_OS_WIN
    ::shutdown(static_cast<SOCKET>(descriptor), SD_SEND);
#else
    ::shutdown(static_cast<int>(descriptor), SHUT_WR);
#endif
}

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
    void Serve(quint64 id, const QByteArray& body);

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
        Handling, // the request is with a worker
        Writing,  // the answer is being written
    };

    struct TPeer
    {
        QTcpSocket* socket = nullptr;
        TRequestFramer framer;
        TPhase phase = TPhase::Reading;
        bool holdsLastByte = false;
    };

    // Network thread.
    void AcceptPending();
    void ReadRequest(quint64 id);
    void PeerGone(quint64 id);
    void WriteAnswer(quint64 id, const QByteArray& bytes);
    void FinishIfWritten(quint64 id);
    void Close(quint64 id);
    void ChangeOpenCount(int delta);

    const TExecute m_execute;

    // Set by the network thread before the constructor returns, valid until it ends.
    TThreadInbox* m_inbox = nullptr;
    QEventLoop* m_loop = nullptr;

    QTcpServer* m_listener = nullptr;           // network thread
    std::unordered_map<quint64, TPeer> m_peers; // network thread
    quint64 m_lastId = 0;                       // network thread

    mutable std::mutex m_countMutex;
    std::condition_variable m_countChanged;
    int m_openCount = 0; // guarded by m_countMutex
};

void TTCPServer::TCore::RunNetworkThread(TDoneSignal& started)
{
    QEventLoop loop;
    TThreadInbox inbox;
    m_loop = &loop;
    m_inbox = &inbox;
    started.Set();
    loop.exec();
    // Sockets closed during the last round are still waiting for their deferred deletion.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TTCPServer::TCore::TListenResult TTCPServer::TCore::StartListening(quint16 port)
{
    TListenResult result;
    auto listener = std::make_unique<QTcpServer>();
    listener->setListenBacklogSize(ListenBacklog);
    if (!listener->listen(QHostAddress::AnyIPv4, port)) {
        result.message = listener->serverError() == QAbstractSocket::AddressInUseError
                             ? u"Could not bind socket. Address and port are already in use."_s
                             : listener->errorString();
        return result;
    }
    QObject::connect(listener.get(), &QTcpServer::newConnection, listener.get(),
                     [this] { AcceptPending(); });
    // QTcpServer stops accepting after an error it does not consider passing; the listener must
    // go on serving, so it tries again a little later.
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

    std::vector<quint64> waiting;
    for (const auto& [id, peer] : m_peers) {
        if (peer.phase == TPhase::Reading)
            waiting.push_back(id);
    }
    for (const quint64 id : waiting)
        Close(id);
}

void TTCPServer::TCore::CloseEverything()
{
    // Runs after the answers of every finished procedure were written; the rest are cut off.
    StopListening();
    std::vector<quint64> open;
    for (const auto& [id, peer] : m_peers)
        open.push_back(id);
    for (const quint64 id : open) {
        auto it = m_peers.find(id);
        if (it != m_peers.end() && it->second.phase == TPhase::Writing)
            it->second.socket->flush();
        Close(id);
    }
}

void TTCPServer::TCore::AcceptPending()
{
    while (m_listener && m_listener->hasPendingConnections()) {
        QTcpSocket* socket = m_listener->nextPendingConnection();
        if (!socket)
            break;
        // The connection must outlive the listener when deactivation leaves it running.
        socket->setParent(nullptr);
        const quint64 id = ++m_lastId;
        m_peers[id].socket = socket;
        QObject::connect(socket, &QIODevice::readyRead, socket, [this, id] { ReadRequest(id); });
        QObject::connect(socket, &QIODevice::bytesWritten, socket,
                         [this, id] { FinishIfWritten(id); });
        QObject::connect(socket, &QAbstractSocket::disconnected, socket,
                         [this, id] { PeerGone(id); });
        QObject::connect(socket, &QAbstractSocket::errorOccurred, socket,
                         [this, id] { PeerGone(id); });
        ChangeOpenCount(+1);
    }
}

void TTCPServer::TCore::ReadRequest(quint64 id)
{
    auto it = m_peers.find(id);
    if (it == m_peers.end() || it->second.phase != TPhase::Reading)
        return;
    TPeer& peer = it->second;
    QTcpSocket& socket = *peer.socket;

    // The newest byte always stays inside the socket. Once the request is complete, a read buffer
    // limited to that one byte keeps the socket from reading on, so neither later bytes nor the
    // peer's half-close can end the connection before its answer is written.
    const qint64 available = socket.bytesAvailable();
    const qint64 fresh = available - (peer.holdsLastByte ? 1 : 0);
    if (fresh <= 0)
        return;
    QByteArray chunk = socket.read(available - 1);
    if (peer.holdsLastByte)
        chunk.remove(0, 1);
    chunk.append(socket.peek(1));
    peer.holdsLastByte = true;

    switch (peer.framer.Feed(chunk)) {
    case TRequestFramer::TState::NeedMore:
        return;
    case TRequestFramer::TState::TooLong:
        Close(id);
        return;
    case TRequestFramer::TState::Complete:
        peer.phase = TPhase::Handling;
        socket.setReadBufferSize(1);
        m_pool->Post([this, id, body = peer.framer.Body()] { Serve(id, body); });
        return;
    }
}

void TTCPServer::TCore::PeerGone(quint64 id)
{
    auto it = m_peers.find(id);
    // A connection with a worker stays listed until its procedure returns; the answer is then
    // dropped because the socket is no longer connected.
    if (it != m_peers.end() && it->second.phase != TPhase::Handling)
        Close(id);
}

void TTCPServer::TCore::Serve(quint64 id, const QByteArray& body)
{
    TConnection connection;
    try {
        m_execute(connection, DecodeRequest(body));
    } catch (...) {
        // The procedure's failure ends its connection and nothing else; whatever it sent before
        // failing still goes out.
    }
    Post([this, id, bytes = connection.TakeOutput()] { WriteAnswer(id, bytes); });
}

void TTCPServer::TCore::WriteAnswer(quint64 id, const QByteArray& bytes)
{
    auto it = m_peers.find(id);
    if (it == m_peers.end())
        return;
    QTcpSocket* socket = it->second.socket;
    if (bytes.isEmpty() || socket->state() != QAbstractSocket::ConnectedState) {
        Close(id);
        return;
    }
    it->second.phase = TPhase::Writing;
    // A failing write reports through errorOccurred, which closes the connection quietly.
    socket->write(bytes);
    socket->flush();
    FinishIfWritten(id);
}

void TTCPServer::TCore::FinishIfWritten(quint64 id)
{
    auto it = m_peers.find(id);
    if (it != m_peers.end() && it->second.phase == TPhase::Writing &&
        it->second.socket->bytesToWrite() == 0)
        Close(id);
}

void TTCPServer::TCore::Close(quint64 id)
{
    auto node = m_peers.extract(id);
    if (node.empty())
        return;
    QTcpSocket* socket = node.mapped().socket;
    QObject::disconnect(socket, nullptr, socket, nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState)
        ShutdownSending(*socket);
    socket->abort();
    // May be inside one of the socket's own signals.
    socket->deleteLater();
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
