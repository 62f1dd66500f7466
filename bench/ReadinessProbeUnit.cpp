#include "ReadinessProbeUnit.h"

#include "FileDescriptorUnit.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace ReadinessProbe {
namespace {

using Clock = std::chrono::steady_clock;

std::int64_t RealtimeNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0)
        return false;
    pollfd entry{fd, events, 0};
    return ::poll(&entry, 1, static_cast<int>(left.count())) == 1;
}

// One round trip; the connect time is noted as soon as the connection stands.
bool TryRoundTrip(const sockaddr_in& address, const std::string& frame, Clock::time_point deadline,
                  TReadiness& readiness)
{
    TFileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.IsOpen())
        return false;
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS || !WaitFor(fd.Get(), POLLOUT, deadline))
            return false;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            return false;
    }
    if (readiness.FirstConnectNs == 0)
        readiness.FirstConnectNs = RealtimeNs();

    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd.Get(), frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n > 0)
            sent += static_cast<std::size_t>(n);
        else if (n < 0 && (errno == EAGAIN || errno == EINTR))
            WaitFor(fd.Get(), POLLOUT, deadline);
        else
            return false;
        if (Clock::now() >= deadline)
            return false;
    }
    char buffer[4096];
    for (;;) {
        if (!WaitFor(fd.Get(), POLLIN, deadline))
            return false;
        const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
        if (n > 0 && std::memchr(buffer, 0, static_cast<std::size_t>(n))) {
            readiness.FirstAnswerNs = RealtimeNs();
            return true;
        }
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return false;
    }
}

} // namespace

std::optional<TReadiness> WaitForAnswer(const sockaddr_in& address, const std::string& request,
                                        std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    const std::string frame = request + '\0';
    TReadiness readiness;
    while (Clock::now() < deadline) {
        ++readiness.Attempts;
        if (TryRoundTrip(address, frame, deadline, readiness))
            return readiness;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
}

} // namespace ReadinessProbe
