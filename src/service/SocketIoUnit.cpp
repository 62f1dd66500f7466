#include "SocketIoUnit.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace SocketIo {

#ifdef Q_OS_WIN

namespace {
SOCKET Handle(qintptr socket)
{
    return static_cast<SOCKET>(socket);
}
int Chunk(qint64 size)
{
    return static_cast<int>(qMin<qint64>(size, 1 << 30));
}
TResult Outcome(int count)
{
    if (count > 0)
        return {TStatus::Done, count};
    if (count == SOCKET_ERROR)
        return {::WSAGetLastError() == WSAEWOULDBLOCK ? TStatus::WouldBlock : TStatus::Failed, 0};
    return {TStatus::Ended, 0};
}
} // namespace

bool SetNonBlocking(qintptr socket)
{
    u_long on = 1;
    return ::ioctlsocket(Handle(socket), FIONBIO, &on) == 0;
}

TResult Receive(qintptr socket, char* buffer, qint64 size)
{
    return Outcome(::recv(Handle(socket), buffer, Chunk(size), 0));
}

TResult Send(qintptr socket, const char* data, qint64 size)
{
    const TResult result = Outcome(::send(Handle(socket), data, Chunk(size), 0));
    return result.status == TStatus::Ended ? TResult{TStatus::WouldBlock, 0} : result;
}

void ShutdownSending(qintptr socket)
{
    ::shutdown(Handle(socket), SD_SEND);
}

void Close(qintptr socket)
{
    ::closesocket(Handle(socket));
}

#else

namespace {
int Descriptor(qintptr socket)
{
    return static_cast<int>(socket);
}
TResult Failure()
{
    return {errno == EAGAIN || errno == EWOULDBLOCK ? TStatus::WouldBlock : TStatus::Failed, 0};
}
} // namespace

bool SetNonBlocking(qintptr socket)
{
    const int flags = ::fcntl(Descriptor(socket), F_GETFL);
    return flags != -1 && ::fcntl(Descriptor(socket), F_SETFL, flags | O_NONBLOCK) == 0;
}

TResult Receive(qintptr socket, char* buffer, qint64 size)
{
    for (;;) {
        const ssize_t count = ::recv(Descriptor(socket), buffer, static_cast<size_t>(size), 0);
        if (count > 0)
            return {TStatus::Done, count};
        if (count == 0)
            return {TStatus::Ended, 0};
        if (errno != EINTR)
            return Failure();
    }
}

TResult Send(qintptr socket, const char* data, qint64 size)
{
#ifdef MSG_NOSIGNAL
    constexpr int Flags = MSG_NOSIGNAL;
#else
    constexpr int Flags = 0;
#endif
    for (;;) {
        const ssize_t count = ::send(Descriptor(socket), data, static_cast<size_t>(size), Flags);
        if (count >= 0)
            return {count > 0 ? TStatus::Done : TStatus::WouldBlock, count};
        if (errno != EINTR)
            return Failure();
    }
}

void ShutdownSending(qintptr socket)
{
    ::shutdown(Descriptor(socket), SHUT_WR);
}

void Close(qintptr socket)
{
    ::close(Descriptor(socket));
}

#endif

} // namespace SocketIo
