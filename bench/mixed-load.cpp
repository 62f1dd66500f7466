// Mixed door requests against the interface on this machine, bounded in requests and time:
// new and copy IssueCards, ReadCard, EraseCard and unreadable requests at once, each kind on
// its own connections so that its answers are counted apart. Used by fault-checks.sh.
#include "LoadRunnerUnit.h"
#include "LoopbackAddressUnit.h"
#include "MixedRequestsUnit.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

struct TOptions
{
    std::string Host = "127.0.0.1";
    int Port = 0;
    std::uint64_t Requests = 10'000;
    double DurationSeconds = 600;
    int TimeoutMs = 30'000;
    int Rooms = 16;
    std::string Mix;
    std::string DumpDir;
};

const char* const Usage = R"(usage: mixed-load --port P [options]
  --host H          127.0.0.0/8 or localhost only (default 127.0.0.1)
  --requests N      round trips in all, shared out by the mix (default 10000, at most 100000000)
  --duration S      stop starting new ones after S seconds (default 600, at most 3600)
  --timeout-ms T    longest wait for one answer (default 30000)
  --rooms R         IssueCard rooms (default 16)
  --mix M           connections per kind (default new=16,copy=8,read=16,erase=12,bad=12)
  --dump DIR        write every request text into DIR (for log-check --requests)
prints one KIND line per kind and a RESULT line; exits 0 once the requests are done.
)";

template <typename T> T Number(const std::string& option, const std::string& text, T low, T high)
{
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        throw std::invalid_argument(option + " needs a number from " + std::to_string(low) +
                                    " to " + std::to_string(high));
    return value;
}

TOptions Parse(const std::vector<std::string>& arguments)
{
    TOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (i + 1 >= arguments.size())
            throw std::invalid_argument("unknown option or missing value: " + name);
        const std::string& value = arguments[++i];
        if (name == "--host")
            options.Host = value;
        else if (name == "--port")
            options.Port = Number(name, value, 1, 65535);
        else if (name == "--requests")
            options.Requests = Number<std::uint64_t>(name, value, 1, 100'000'000);
        else if (name == "--duration")
            options.DurationSeconds = Number<double>(name, value, 0.001, 3600);
        else if (name == "--timeout-ms")
            options.TimeoutMs = Number(name, value, 1, 600'000);
        else if (name == "--rooms")
            options.Rooms = Number(name, value, 1, 10'000);
        else if (name == "--mix")
            options.Mix = value;
        else if (name == "--dump")
            options.DumpDir = value;
        else
            throw std::invalid_argument("unknown option " + name);
    }
    if (options.Port == 0)
        throw std::invalid_argument("--port is required");
    return options;
}

void Dump(const std::vector<MixedRequests::TKind>& kinds, const std::string& dir)
{
    std::filesystem::create_directories(dir);
    for (const auto& kind : kinds) {
        for (std::size_t i = 0; i < kind.Texts.size(); ++i) {
            const auto path =
                std::filesystem::path(dir) / (kind.Name + "-" + std::to_string(i) + ".xml");
            std::ofstream file(path, std::ios::binary);
            file << kind.Texts[i];
            if (!file)
                throw std::runtime_error("cannot write " + path.string());
        }
    }
}

unsigned long long U(std::uint64_t value)
{
    return static_cast<unsigned long long>(value);
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    TOptions options;
    std::vector<MixedRequests::TKind> kinds = MixedRequests::Kinds(16);
    try {
        options = Parse(std::vector<std::string>(argv + 1, argv + argc));
        kinds = MixedRequests::Kinds(options.Rooms);
        if (!options.Mix.empty())
            MixedRequests::ApplyMix(kinds, options.Mix);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "mixed-load: %s\n\n%s", error.what(), Usage);
        return 2;
    }

    try {
        const sockaddr_in address =
            LoopbackAddress::Resolve(options.Host, static_cast<unsigned short>(options.Port));
        if (!options.DumpDir.empty())
            Dump(kinds, options.DumpDir);

        std::uint64_t totalShare = 0;
        for (const auto& kind : kinds)
            totalShare += std::uint64_t(kind.Share);
        if (totalShare == 0)
            throw std::invalid_argument("the mix gives no kind a connection");

        // Requests are shared out in proportion to the connections; the rest go to the first.
        std::vector<std::uint64_t> counts;
        std::uint64_t given = 0;
        for (const auto& kind : kinds) {
            counts.push_back(options.Requests * std::uint64_t(kind.Share) / totalShare);
            given += counts.back();
        }
        for (std::size_t i = 0; given < options.Requests; i = (i + 1) % kinds.size()) {
            if (kinds[i].Share > 0) {
                ++counts[i];
                ++given;
            }
        }

        std::vector<TLoadResult> results(kinds.size());
        std::vector<std::exception_ptr> errors(kinds.size());
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            if (kinds[i].Share == 0 || counts[i] == 0)
                continue;
            TLoadPlan plan;
            plan.Address = address;
            plan.Requests = kinds[i].Texts;
            plan.Concurrency = kinds[i].Share;
            plan.MaxRequests = counts[i];
            plan.Duration =
                std::chrono::milliseconds(static_cast<long long>(options.DurationSeconds * 1000));
            plan.Timeout = std::chrono::milliseconds(options.TimeoutMs);
            threads.emplace_back([plan, i, &results, &errors] {
                try {
                    results[i] = TLoadRunner(plan).Run();
                } catch (...) {
                    errors[i] = std::current_exception();
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
        std::uint64_t answerable = 0, answered = 0, unanswerable = 0, answeredWrongly = 0,
                      issues = 0, issuesAnswered = 0, lost = 0;
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            const TLoadResult& r = results[i];
            std::printf("KIND name=%s connections=%d requests=%llu answered=%llu ok=%llu "
                        "failed=%llu no_answer=%llu refused=%llu timeout=%llu other=%llu "
                        "elapsed_ms=%.1f\n",
                        kinds[i].Name.c_str(), kinds[i].Share, U(r.Started), U(r.Answered), U(r.Ok),
                        U(r.Failed), U(r.NoAnswer), U(r.Refused), U(r.TimedOut), U(r.OtherErrors),
                        r.ElapsedSeconds * 1000);
            if (kinds[i].Answered) {
                answerable += r.Started;
                answered += r.Answered;
                lost += r.Errors();
            } else {
                unanswerable += r.Started;
                answeredWrongly += r.Answered;
                // Without an answer the server closes; anything else is a fault too.
                lost += r.Refused + r.TimedOut + r.OtherErrors;
            }
            if (kinds[i].ReachesEncoder) {
                issues += r.Started;
                issuesAnswered += r.Answered;
            }
            total.Merge(r);
        }
        std::printf("RESULT requests=%llu answerable=%llu answered=%llu ok=%llu failed=%llu "
                    "unanswerable=%llu unanswerable_answered=%llu errors=%llu refused=%llu "
                    "timeout=%llu issue=%llu issue_answered=%llu elapsed_ms=%.1f rps=%.1f\n",
                    U(total.Started), U(answerable), U(answered), U(total.Ok), U(total.Failed),
                    U(unanswerable), U(answeredWrongly), U(lost), U(total.Refused),
                    U(total.TimedOut), U(issues), U(issuesAnswered), total.ElapsedSeconds * 1000,
                    total.ElapsedSeconds > 0 ? double(total.Started) / total.ElapsedSeconds : 0.0);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "mixed-load: %s\n", error.what());
        return 1;
    }
}
