#pragma once

#include "ConnectionUnit.h"

#include <QString>
#include <functional>
#include <memory>
#include <thread>

class TWorkerPool;

// The door-lock listener: accepts connections on every local IPv4 address, reads one
// NUL-terminated request per connection, hands its text to the per-connection procedure and
// writes the answer back, then shuts the connection down.
//
// Threads: one network thread runs a Qt event loop that owns the listening socket and every
// connection (reading, limits, writing, closing), so an idle or slow peer costs a socket and a
// few bytes, never a thread. Connections are plain sockets watched through TSocketWatcher, so
// the loop's cost per round does not grow with the number of idle connections. Each complete request goes to a small pool of worker threads that
// runs the procedure; the answer comes back to the network thread to be written. Card operations
// are serialised by the device anyway, so more workers would only wait on it; a few keep requests
// that need no card (or only the record store) from queueing behind one slow encoder call. All
// hand-overs between threads go through std::mutex-guarded queues and every thread is a joined
// std::thread, so ThreadSanitizer sees each of them.
//
// Needs a QCoreApplication, as every Qt event loop does.
//
// Not thread-safe: Activate, Deactivate and the queries belong to the owner's thread (the GUI
// thread); ConnectionCount may be asked from any thread. The procedure runs on the workers;
// whatever it throws is caught there and ends its connection (an answer it already sent still
// goes out).
class TTCPServer
{
public:
    using TExecute = std::function<void(TConnection& connection, const QString& request)>;

    static constexpr int WorkerCount = 4;

    explicit TTCPServer(TExecute execute);
    // Deactivates without reporting a timeout and joins every thread; a procedure still running
    // is waited for.
    ~TTCPServer();

    TTCPServer(const TTCPServer&) = delete;
    TTCPServer& operator=(const TTCPServer&) = delete;

    // Binds the IPv4 wildcard address and the port (0 picks a free one) with a backlog of 15.
    // Throws DoorlockError when binding fails and stays inactive. Does nothing when active.
    void Activate(quint16 port);

    // Stops accepting and closes every connection still waiting for its request at once.
    // Connections whose request is being handled keep going until their answer is written; this
    // waits up to 5000 ms for them and then throws DoorlockError "Terminate Thread Timeout" (the
    // listener is inactive all the same; those connections close when they are done).
    void Deactivate();

    bool IsActive() const { return m_active; }

    // The bound port while active, else 0.
    quint16 Port() const { return m_port; }

    // Connections accepted and not yet closed, whether reading, handled or writing.
    int ConnectionCount() const;

private:
    class TCore;

    template <typename Function> void CallInNetworkThread(Function&& function);

    std::unique_ptr<TCore> m_core;
    std::unique_ptr<TWorkerPool> m_pool;
    std::thread m_networkThread;
    bool m_active = false;
    quint16 m_port = 0;
};
