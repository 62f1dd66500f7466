#include "LoadRunnerUnit.h"

#include "FileDescriptorUnit.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

enum class TSlotState
{
    Idle,
    Connecting,
    Sending,
    Receiving, // until the answer's NUL
    Draining   // answered; waiting for the end of the stream
};

struct TSlot
{
    TFileDescriptor Fd;
    TSlotState State = TSlotState::Idle;
    Clock::time_point Start;
    const std::string* Frame = nullptr;
    std::size_t Sent = 0;
    std::string Answer;
};

enum class TFailure
{
    Refused,
    NoAnswer,
    TimedOut,
    Other
};

// One run's mutable state; all slots share one epoll set, keyed by slot index.
class TRun
{
public:
    TRun(const TLoadPlan& plan) : m_plan(plan), m_slots(static_cast<std::size_t>(plan.Concurrency))
    {
        for (const std::string& request : plan.Requests)
            m_frames.push_back(request + '\0');
        m_epoll.Reset(::epoll_create1(EPOLL_CLOEXEC));
        if (!m_epoll.IsOpen())
            throw std::system_error(errno, std::generic_category(), "epoll_create1");
    }

    TLoadResult Execute()
    {
        m_result.LatenciesUs.reserve(std::min<std::uint64_t>(m_plan.MaxRequests, 1u << 22));
        m_begin = Clock::now();
        m_end = m_begin + m_plan.Duration;
        m_last = m_begin;
        for (std::size_t i = 0; i < m_slots.size(); ++i)
            Launch(i);

        epoll_event events[128];
        auto nextScan = Clock::now();
        while (m_active > 0) {
            const int count = ::epoll_wait(m_epoll.Get(), events, 128, 5);
            if (count < 0 && errno != EINTR)
                throw std::system_error(errno, std::generic_category(), "epoll_wait");
            for (int i = 0; i < count; ++i)
                Advance(events[i].data.u32);
            const auto now = Clock::now();
            if (now >= nextScan) {
                ExpireOverdue(now);
                nextScan = now + std::chrono::milliseconds(5);
            }
        }
        m_result.ElapsedSeconds = std::chrono::duration<double>(m_last - m_begin).count();
        return std::move(m_result);
    }

private:
    // Starts the slot's next round trip, if the bounds allow one.
    void Launch(std::size_t index)
    {
        TSlot& slot = m_slots[index];
        while (m_result.Started < m_plan.MaxRequests && Clock::now() < m_end) {
            slot.Frame = &m_frames[m_result.Started % m_frames.size()];
            ++m_result.Started;
            slot.Sent = 0;
            slot.Answer.clear();
            slot.Start = Clock::now();
            slot.Fd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            if (!slot.Fd.IsOpen()) {
                Record(slot, TFailure::Other);
                continue;
            }
            const int rc =
                ::connect(slot.Fd.Get(), reinterpret_cast<const sockaddr*>(&m_plan.Address),
                          sizeof m_plan.Address);
            if (rc != 0 && errno != EINPROGRESS) {
                Record(slot, errno == ECONNREFUSED ? TFailure::Refused : TFailure::Other);
                continue;
            }
            epoll_event event{};
            event.events = EPOLLOUT;
            event.data.u32 = static_cast<std::uint32_t>(index);
            if (::epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, slot.Fd.Get(), &event) != 0) {
                Record(slot, TFailure::Other);
                continue;
            }
            slot.State = rc == 0 ? TSlotState::Sending : TSlotState::Connecting;
            ++m_active;
            return;
        }
        slot.State = TSlotState::Idle;
    }

    void Advance(std::uint32_t index)
    {
        TSlot& slot = m_slots[index];
        switch (slot.State) {
        case TSlotState::Connecting: {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(slot.Fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
            if (error != 0) {
                End(index, error == ECONNREFUSED ? TFailure::Refused : TFailure::Other);
                return;
            }
            slot.State = TSlotState::Sending;
            [[fallthrough]];
        }
        case TSlotState::Sending:
            Send(index);
            return;
        case TSlotState::Receiving:
        case TSlotState::Draining:
            Receive(index);
            return;
        case TSlotState::Idle:
            return;
        }
    }

    void Send(std::uint32_t index)
    {
        TSlot& slot = m_slots[index];
        while (slot.Sent < slot.Frame->size()) {
            const ssize_t n = ::send(slot.Fd.Get(), slot.Frame->data() + slot.Sent,
                                     slot.Frame->size() - slot.Sent, MSG_NOSIGNAL);
            if (n > 0) {
                slot.Sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return; // still watched for EPOLLOUT
            // The server may refuse a request while it is still being sent and answer nothing.
            End(index, errno == ECONNREFUSED ? TFailure::Refused : TFailure::NoAnswer);
            return;
        }
        slot.State = TSlotState::Receiving;
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u32 = index;
        if (::epoll_ctl(m_epoll.Get(), EPOLL_CTL_MOD, slot.Fd.Get(), &event) != 0)
            End(index, TFailure::Other);
    }

    void Receive(std::uint32_t index)
    {
        TSlot& slot = m_slots[index];
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(slot.Fd.Get(), buffer, sizeof buffer, 0);
            if (n > 0) {
                if (slot.State == TSlotState::Receiving) {
                    const auto* nul = static_cast<const char*>(
                        std::memchr(buffer, 0, static_cast<std::size_t>(n)));
                    // Answers are small; a runaway one is cut, its NUL still ends it.
                    if (slot.Answer.size() < 65536)
                        slot.Answer.append(buffer, nul ? static_cast<std::size_t>(nul - buffer)
                                                       : static_cast<std::size_t>(n));
                    if (nul)
                        Answered(slot);
                }
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            // The end of the stream, or a reset: after an answer that ends the round trip.
            if (slot.State == TSlotState::Draining)
                End(index, std::nullopt);
            else
                End(index, TFailure::NoAnswer);
            return;
        }
    }

    void Answered(TSlot& slot)
    {
        const auto now = Clock::now();
        m_result.LatenciesUs.push_back(static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(now - slot.Start).count()));
        ++m_result.Answered;
        if (TLoadRunner::IsSuccessAnswer(slot.Answer))
            ++m_result.Ok;
        else
            ++m_result.Failed;
        slot.State = TSlotState::Draining;
    }

    void ExpireOverdue(Clock::time_point now)
    {
        for (std::uint32_t i = 0; i < m_slots.size(); ++i) {
            const TSlot& slot = m_slots[i];
            if (slot.State == TSlotState::Idle || now - slot.Start < m_plan.Timeout)
                continue;
            // A server that answered but keeps the stream open costs time, not an answer.
            if (slot.State == TSlotState::Draining)
                End(i, std::nullopt);
            else
                End(i, TFailure::TimedOut);
        }
    }

    // Ends the slot's round trip (with a failure, or normally) and starts the next.
    void End(std::uint32_t index, std::optional<TFailure> failure)
    {
        TSlot& slot = m_slots[index];
        slot.Fd.Reset(); // also leaves the epoll set
        --m_active;
        if (failure)
            Record(slot, *failure);
        else
            m_last = Clock::now();
        Launch(index);
    }

    void Record(TSlot& slot, TFailure failure)
    {
        slot.Fd.Reset();
        m_last = Clock::now();
        switch (failure) {
        case TFailure::Refused:
            ++m_result.Refused;
            break;
        case TFailure::NoAnswer:
            ++m_result.NoAnswer;
            break;
        case TFailure::TimedOut:
            ++m_result.TimedOut;
            break;
        case TFailure::Other:
            ++m_result.OtherErrors;
            break;
        }
    }

    const TLoadPlan& m_plan;
    std::vector<std::string> m_frames;
    std::vector<TSlot> m_slots;
    TFileDescriptor m_epoll;
    TLoadResult m_result;
    std::size_t m_active = 0;
    Clock::time_point m_begin, m_end, m_last;
};

} // namespace

double TLoadResult::RequestsPerSecond() const
{
    return ElapsedSeconds > 0 ? static_cast<double>(Answered) / ElapsedSeconds : 0.0;
}

void TLoadResult::Merge(const TLoadResult& other)
{
    Started += other.Started;
    Answered += other.Answered;
    Ok += other.Ok;
    Failed += other.Failed;
    Refused += other.Refused;
    NoAnswer += other.NoAnswer;
    TimedOut += other.TimedOut;
    OtherErrors += other.OtherErrors;
    // The runs start together, so the run is as long as its longest part.
    ElapsedSeconds = std::max(ElapsedSeconds, other.ElapsedSeconds);
    LatenciesUs.insert(LatenciesUs.end(), other.LatenciesUs.begin(), other.LatenciesUs.end());
}

TLoadRunner::TLoadRunner(TLoadPlan plan) : m_plan(std::move(plan))
{
    if (m_plan.Requests.empty())
        throw std::invalid_argument("no request to send");
    if (m_plan.Concurrency < 1)
        throw std::invalid_argument("concurrency must be at least 1");
}

TLoadResult TLoadRunner::Run()
{
    TRun run(m_plan);
    return run.Execute();
}

bool TLoadRunner::IsSuccessAnswer(const std::string& answer)
{
    static const std::string open = "<ResultCode>";
    const std::size_t begin = answer.find(open);
    if (begin == std::string::npos)
        return false;
    return answer.compare(begin + open.size(), 4, "200<") == 0;
}
