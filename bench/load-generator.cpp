// Load generator for the door-lock protocol: round trips against a server on this machine,
// bounded in requests and time. See bench/README.md.
#include "DescriptorLimitUnit.h"
#include "DoorRequestsUnit.h"
#include "FileDescriptorUnit.h"
#include "IdleConnectionsUnit.h"
#include "LatencySummaryUnit.h"
#include "LoadOptionsUnit.h"
#include "LoadRunnerUnit.h"
#include "LoopbackAddressUnit.h"
#include "ReadinessProbeUnit.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

std::vector<std::string> RequestsOf(const TLoadOptions& options)
{
    if (options.RequestFile.empty())
        return DoorRequests::ForType(options.Type, options.Rooms);
    std::ifstream file(options.RequestFile, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + options.RequestFile);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return {text};
}

TLoadResult Measure(const TLoadOptions& options, const sockaddr_in& address)
{
    TLoadPlan plan;
    plan.Address = address;
    plan.Requests = RequestsOf(options);
    plan.MaxRequests = options.Requests;
    plan.Duration =
        std::chrono::milliseconds(static_cast<long long>(options.DurationSeconds * 1000));
    plan.Timeout = std::chrono::milliseconds(options.TimeoutMs);

    // Concurrency and requests are shared out; every part starts at once.
    std::vector<TLoadResult> results(static_cast<std::size_t>(options.Threads));
    std::vector<std::exception_ptr> errors(results.size());
    std::vector<std::thread> threads;
    for (int t = 0; t < options.Threads; ++t) {
        TLoadPlan part = plan;
        part.Concurrency = options.Concurrency / options.Threads +
                           (t < options.Concurrency % options.Threads ? 1 : 0);
        part.MaxRequests = options.Requests / std::uint64_t(options.Threads) +
                           (std::uint64_t(t) < options.Requests % std::uint64_t(options.Threads));
        threads.emplace_back([part, t, &results, &errors] {
            try {
                results[std::size_t(t)] = TLoadRunner(part).Run();
            } catch (...) {
                errors[std::size_t(t)] = std::current_exception();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (const std::exception_ptr& error : errors) {
        if (error)
            std::rethrow_exception(error);
    }
    TLoadResult total;
    for (const TLoadResult& part : results)
        total.Merge(part);
    return total;
}

void Report(const TLoadOptions& options, const TLoadResult& result, const TIdleConnections& idle)
{
    const TLatencySummary latency = TLatencySummary::Of(result.LatenciesUs);
    const std::string what = options.RequestFile.empty() ? options.Type : options.RequestFile;
    if (!options.MachineOnly) {
        std::printf("%s against %s:%d, concurrency %d: %llu round trips in %.2f s\n", what.c_str(),
                    options.Host.c_str(), options.Port, options.Concurrency,
                    static_cast<unsigned long long>(result.Started), result.ElapsedSeconds);
        std::printf("  requests/s %.1f   latency p50 %.3f ms   p99 %.3f ms   max %.3f ms\n",
                    result.RequestsPerSecond(), double(latency.P50Us) / 1000.0,
                    double(latency.P99Us) / 1000.0, double(latency.MaxUs) / 1000.0);
        std::printf("  answers %llu (ResultCode 200: %llu, other: %llu)   errors: refused %llu, "
                    "no answer %llu, timed out %llu, other %llu\n",
                    static_cast<unsigned long long>(result.Answered),
                    static_cast<unsigned long long>(result.Ok),
                    static_cast<unsigned long long>(result.Failed),
                    static_cast<unsigned long long>(result.Refused),
                    static_cast<unsigned long long>(result.NoAnswer),
                    static_cast<unsigned long long>(result.TimedOut),
                    static_cast<unsigned long long>(result.OtherErrors));
        if (options.Idle > 0)
            std::printf("  idle connections held %zu (failed to open %zu, closed by the server "
                        "%zu)\n",
                        idle.Held(), idle.Failed(), idle.ClosedByPeer());
    }
    std::printf("RESULT label=%s requests=%llu answered=%llu ok=%llu failed=%llu errors=%llu "
                "refused=%llu no_answer=%llu timeout=%llu other=%llu elapsed_ms=%.1f rps=%.1f "
                "p50_us=%llu p99_us=%llu max_us=%llu mean_us=%.1f idle=%zu idle_failed=%zu "
                "idle_closed=%zu\n",
                options.Label.empty() ? "-" : options.Label.c_str(),
                static_cast<unsigned long long>(result.Started),
                static_cast<unsigned long long>(result.Answered),
                static_cast<unsigned long long>(result.Ok),
                static_cast<unsigned long long>(result.Failed),
                static_cast<unsigned long long>(result.Errors()),
                static_cast<unsigned long long>(result.Refused),
                static_cast<unsigned long long>(result.NoAnswer),
                static_cast<unsigned long long>(result.TimedOut),
                static_cast<unsigned long long>(result.OtherErrors), result.ElapsedSeconds * 1000,
                result.RequestsPerSecond(), static_cast<unsigned long long>(latency.P50Us),
                static_cast<unsigned long long>(latency.P99Us),
                static_cast<unsigned long long>(latency.MaxUs), latency.MeanUs, idle.Held(),
                idle.Failed(), options.Idle > 0 ? idle.ClosedByPeer() : std::size_t(0));
}

// Holds the idle connections until the hold time ends or SIGTERM/SIGINT arrives.
void Hold(const TLoadOptions& options, TIdleConnections& idle)
{
    std::printf("HOLDING %zu failed=%zu\n", idle.Held(), idle.Failed());
    std::fflush(stdout);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    const auto seconds = static_cast<long long>(options.HoldSeconds * 1e9);
    timespec wait{static_cast<time_t>(seconds / 1'000'000'000),
                  static_cast<long>(seconds % 1'000'000'000)};
    while (sigtimedwait(&stopSignals, nullptr, &wait) < 0 && errno == EINTR) {
    }
    std::printf("RELEASED held=%zu closed_by_server=%zu\n", idle.Held(), idle.ClosedByPeer());
}

int FreePort()
{
    // Bound to every address, as the door-lock interface binds, and closed again: no traffic.
    TFileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    if (!fd.IsOpen() ||
        ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error(std::string("no free port: ") + std::strerror(errno));
    return ntohs(address.sin_port);
}

} // namespace

int main(int argc, char** argv)
{
    // Hold mode waits for these with sigtimedwait; block them before any thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    std::signal(SIGPIPE, SIG_IGN);

    TLoadOptions options;
    try {
        options = TLoadOptions::Parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "load-generator: %s\n\n%s", error.what(),
                     TLoadOptions::Usage().c_str());
        return 2;
    }

    try {
        if (options.Mode == TLoadOptions::TMode::FreePort) {
            std::printf("%d\n", FreePort());
            return 0;
        }
        const sockaddr_in address =
            LoopbackAddress::Resolve(options.Host, static_cast<unsigned short>(options.Port));

        if (options.Mode == TLoadOptions::TMode::Probe) {
            const auto readiness = ReadinessProbe::WaitForAnswer(
                address, RequestsOf(options).front(), std::chrono::milliseconds(options.TimeoutMs));
            if (!readiness) {
                std::printf("NOT READY within %d ms\n", options.TimeoutMs);
                return 1;
            }
            std::printf("READY connect_ns=%lld answer_ns=%lld attempts=%llu\n",
                        static_cast<long long>(readiness->FirstConnectNs),
                        static_cast<long long>(readiness->FirstAnswerNs),
                        static_cast<unsigned long long>(readiness->Attempts));
            return 0;
        }

        if (options.Mode == TLoadOptions::TMode::Hold)
            pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
        TIdleConnections idle;
        if (options.Idle > 0) {
            const std::uint64_t limit = DescriptorLimit::RaiseToHard();
            if (limit < options.Idle + 64 + std::uint64_t(options.Concurrency))
                std::fprintf(stderr,
                             "load-generator: the descriptor limit %llu is too low for %llu idle "
                             "connections; some will fail\n",
                             static_cast<unsigned long long>(limit),
                             static_cast<unsigned long long>(options.Idle));
            idle.Open(address, options.Idle, std::chrono::milliseconds(options.TimeoutMs), 256,
                      options.IdleRate);
        }
        if (options.Mode == TLoadOptions::TMode::Hold) {
            Hold(options, idle);
            return 0;
        }
        if (options.Requests == 0 && options.Idle == 0) {
            std::fprintf(stderr, "load-generator: nothing to do\n");
            return 2;
        }
        const TLoadResult result = Measure(options, address);
        Report(options, result, idle);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "load-generator: %s\n", error.what());
        return 1;
    }
}
