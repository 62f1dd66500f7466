#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The load generator's command line. Every run is bounded: the limits below cap what a
// command line may ask for. A plain value.
struct TLoadOptions
{
    enum class TMode
    {
        Measure,  // round trips, with idle connections held if asked
        Hold,     // only hold idle connections, until the hold time ends or SIGTERM/SIGINT
        Probe,    // wait for a server's first answer (start-up time)
        FreePort, // print a TCP port that is free now, for a server still to be started
    };

    static constexpr int MaxConcurrency = 4096;
    static constexpr std::uint64_t MaxRequests = 100'000'000;
    static constexpr double MaxSeconds = 3600;
    static constexpr std::uint64_t MaxIdle = 60'000;

    TMode Mode = TMode::Measure;
    std::string Host = "127.0.0.1";
    int Port = 0;
    std::string Type = "ReadCard";
    std::string RequestFile; // sent as it stands, instead of a built-in request
    int Rooms = 8;           // IssueCard: rooms that the built-in requests cycle through
    int Concurrency = 1;
    int Threads = 1;
    std::uint64_t Requests = 10'000;
    double DurationSeconds = 10;
    int TimeoutMs = 10'000;
    std::uint64_t Idle = 0;
    double IdleRate = 0; // connects per second while opening them; 0: as fast as possible
    double HoldSeconds = 0;
    std::string Label;
    bool MachineOnly = false; // print only the RESULT line

    // Throws std::invalid_argument with a message for the user.
    static TLoadOptions Parse(const std::vector<std::string>& arguments);
    static std::string Usage();
};
