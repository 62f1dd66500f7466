#pragma once

#include <QtGlobal>

// The few operations the listener needs on a raw connection socket, behind one face for every
// platform. Sockets are non-blocking: a call never waits. Thread-safe in the way the system
// calls are: one socket belongs to one thread at a time.
namespace SocketIo {

enum class TStatus
{
    Done,       // bytes moved (count in TResult::bytes)
    WouldBlock, // nothing to move now; wait until the socket is ready
    Ended,      // the peer ended its sending direction (Receive only)
    Failed,     // the connection is broken
};

struct TResult
{
    TStatus status = TStatus::Failed;
    qint64 bytes = 0;
};

bool SetNonBlocking(qintptr socket);
TResult Receive(qintptr socket, char* buffer, qint64 size);
// Never raises SIGPIPE when the peer has gone.
TResult Send(qintptr socket, const char* data, qint64 size);
void ShutdownSending(qintptr socket);
void Close(qintptr socket);

} // namespace SocketIo
