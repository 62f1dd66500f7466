#pragma once

#include <cstdint>
#include <vector>

// Percentiles of a set of latencies (microseconds), nearest-rank: the p-th percentile is the
// smallest value that at least p percent of the samples do not exceed. A plain value.
struct TLatencySummary
{
    std::uint64_t Count = 0;
    double MeanUs = 0;
    std::uint64_t P50Us = 0;
    std::uint64_t P99Us = 0;
    std::uint64_t MaxUs = 0;

    // Takes the samples by value: they are sorted. Empty samples give all zeros.
    static TLatencySummary Of(std::vector<std::uint64_t> samples);
    // Nearest-rank percentile of sorted samples; percent in (0, 100].
    static std::uint64_t Percentile(const std::vector<std::uint64_t>& sorted, double percent);
};
