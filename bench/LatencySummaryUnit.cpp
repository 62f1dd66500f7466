#include "LatencySummaryUnit.h"

#include <algorithm>
#include <cmath>
#include <numeric>

TLatencySummary TLatencySummary::Of(std::vector<std::uint64_t> samples)
{
    TLatencySummary summary;
    if (samples.empty())
        return summary;
    std::sort(samples.begin(), samples.end());
    summary.Count = samples.size();
    const long double sum = std::accumulate(samples.begin(), samples.end(), 0.0L);
    summary.MeanUs = static_cast<double>(sum / static_cast<long double>(samples.size()));
    summary.P50Us = Percentile(samples, 50);
    summary.P99Us = Percentile(samples, 99);
    summary.MaxUs = samples.back();
    return summary;
}

std::uint64_t TLatencySummary::Percentile(const std::vector<std::uint64_t>& sorted, double percent)
{
    if (sorted.empty())
        return 0;
    const double rank = std::ceil(percent / 100.0 * static_cast<double>(sorted.size()));
    const auto index = static_cast<std::size_t>(std::max(rank, 1.0)) - 1;
    return sorted[std::min(index, sorted.size() - 1)];
}
