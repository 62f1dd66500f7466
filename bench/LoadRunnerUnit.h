#pragma once

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <vector>

// What one load run does: round trips of the door-lock protocol (connect, request and NUL,
// answer to its NUL, the end of the stream, close), a fixed number of them in flight at once,
// until either bound is reached.
struct TLoadPlan
{
    sockaddr_in Address{};
    // Request bodies without the terminator; round trip i sends Requests[i % size].
    std::vector<std::string> Requests;
    int Concurrency = 1;
    std::uint64_t MaxRequests = 10000;
    std::chrono::milliseconds Duration{10000};
    // Longest wait for the answer of one round trip, connect included.
    std::chrono::milliseconds Timeout{10000};
};

// The outcome of a run; results of several runs in parallel merge. A plain value.
struct TLoadResult
{
    std::uint64_t Started = 0;
    std::uint64_t Answered = 0; // an answer up to its NUL arrived
    std::uint64_t Ok = 0;       // ... with ResultCode 200
    std::uint64_t Failed = 0;   // ... with another or no ResultCode
    std::uint64_t Refused = 0;  // connect refused
    std::uint64_t NoAnswer = 0; // the server closed or reset before the NUL of an answer
    std::uint64_t TimedOut = 0; // no answer within the timeout
    std::uint64_t OtherErrors = 0;
    double ElapsedSeconds = 0;              // first connect to the last round trip's end
    std::vector<std::uint64_t> LatenciesUs; // connect to the answer's NUL, answered trips only

    std::uint64_t Errors() const { return Refused + NoAnswer + TimedOut + OtherErrors; }
    double RequestsPerSecond() const;
    void Merge(const TLoadResult& other);
};

// Runs one plan on the calling thread with one epoll set. Not thread-safe; one run per object.
class TLoadRunner
{
public:
    explicit TLoadRunner(TLoadPlan plan);
    TLoadResult Run();

    // "200" answers count as Ok; anything else (including no ResultCode) as Failed.
    static bool IsSuccessAnswer(const std::string& answer);

private:
    TLoadPlan m_plan;
};
