#include "LoadOptionsUnit.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace {

template <typename T> T Number(const std::string& option, const std::string& text, T low, T high)
{
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        throw std::invalid_argument(option + " needs a number, not '" + text + "'");
    if (!(value >= low && value <= high))
        throw std::invalid_argument(option + " must lie between " + std::to_string(low) + " and " +
                                    std::to_string(high));
    return value;
}

} // namespace

TLoadOptions TLoadOptions::Parse(const std::vector<std::string>& arguments)
{
    TLoadOptions options;
    bool portGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        bool hasValue = false;
        if (const auto equals = name.find('=');
            name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            hasValue = true;
        }
        const auto take = [&]() -> const std::string& {
            if (!hasValue) {
                if (i + 1 >= arguments.size())
                    throw std::invalid_argument(name + " needs a value");
                value = arguments[++i];
                hasValue = true;
            }
            return value;
        };

        if (name == "--probe") {
            options.Mode = TMode::Probe;
        } else if (name == "--free-port") {
            options.Mode = TMode::FreePort;
        } else if (name == "--machine") {
            options.MachineOnly = true;
        } else if (name == "--host") {
            options.Host = take();
        } else if (name == "--port") {
            options.Port = Number(name, take(), 1, 65535);
            portGiven = true;
        } else if (name == "--type") {
            options.Type = take();
        } else if (name == "--request") {
            options.RequestFile = take();
        } else if (name == "--rooms") {
            options.Rooms = Number(name, take(), 1, 10'000);
        } else if (name == "--concurrency") {
            options.Concurrency = Number(name, take(), 1, MaxConcurrency);
        } else if (name == "--threads") {
            options.Threads = Number(name, take(), 1, 64);
        } else if (name == "--requests") {
            options.Requests = Number<std::uint64_t>(name, take(), 0, MaxRequests);
        } else if (name == "--duration") {
            options.DurationSeconds = Number(name, take(), 0.001, MaxSeconds);
        } else if (name == "--timeout-ms") {
            options.TimeoutMs = Number(name, take(), 1, 600'000);
        } else if (name == "--idle") {
            options.Idle = Number<std::uint64_t>(name, take(), 0, MaxIdle);
        } else if (name == "--idle-rate") {
            options.IdleRate = Number(name, take(), 1.0, 1e6);
        } else if (name == "--hold") {
            options.HoldSeconds = Number(name, take(), 0.001, MaxSeconds);
            options.Mode = TMode::Hold;
        } else if (name == "--label") {
            options.Label = take();
        } else {
            throw std::invalid_argument("unknown option '" + arguments[i] + "'");
        }
    }

    if (options.Mode == TMode::FreePort)
        return options;
    if (!portGiven)
        throw std::invalid_argument("--port is required");
    if (options.Mode == TMode::Hold && options.Idle == 0)
        throw std::invalid_argument("--hold needs --idle with a number of connections");
    if (options.Threads > options.Concurrency)
        throw std::invalid_argument("--threads cannot exceed --concurrency");
    if (options.Label.find_first_of(" \t\n=") != std::string::npos)
        throw std::invalid_argument("--label must be one word");
    return options;
}

std::string TLoadOptions::Usage()
{
    return R"(usage:
  load-generator --port P [options]        round trips; prints the figures and a RESULT line
  load-generator --port P --idle K --hold S
                                           holds K silent connections for S seconds (or until
                                           SIGTERM/SIGINT); prints "HOLDING <n>" once they stand
  load-generator --port P --probe [--timeout-ms T]
                                           waits for the first answer; prints READY with the
                                           wall-clock times of the first connect and answer
  load-generator --free-port               prints a TCP port that is free at this moment

options:
  --host H          IPv4 address in 127.0.0.0/8 or "localhost" (default 127.0.0.1); nothing else
  --type T          built-in request: ReadCard (default), IssueCard or EraseCard
  --rooms R         IssueCard: cycle through R rooms (default 8)
  --request FILE    send this file's bytes instead (a NUL is added)
  --concurrency C   round trips in flight at once (default 1, at most 4096)
  --threads N       share the round trips among N threads (default 1)
  --requests N      stop after N round trips (default 10000)
  --duration S      ... or after S seconds, whichever comes first (default 10)
  --timeout-ms T    longest wait for one answer (default 10000)
  --idle K          open K silent connections first and hold them while measuring
  --idle-rate R     open them at R connects per second at most (a server with a short
                    listen backlog loses the handshakes of a faster burst)
  --label NAME      name carried into the RESULT line
  --machine         print only the RESULT line
)";
}
