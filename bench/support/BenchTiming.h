#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

// Timing helpers shared by the benchmarks. Every figure they report is a
// median: the machines this runs on are small and shared.

// The median of the values; 0 for none.
inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// The value below which `share` (0..1) of the values lie; 0 for none.
inline double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(share * double(values.size())))];
}

// Wall-clock time is what the player waits; processor time is what the code
// costs, and stays meaningful on a machine shared with other work.
struct TimedSamples
{
    std::vector<double> wallMs;
    std::vector<double> processorMs;

    void time(const std::function<void()>& work)
    {
        const auto wall = std::chrono::steady_clock::now();
        const std::clock_t processor = std::clock();
        work();
        processorMs.push_back(1000.0 * double(std::clock() - processor) / CLOCKS_PER_SEC);
        wallMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall)
                .count());
    }

    // Drops the first runs, which warm caches and the scene.
    void dropFirst(std::size_t count)
    {
        count = std::min(count, wallMs.size());
        wallMs.erase(wallMs.begin(), wallMs.begin() + long(count));
        processorMs.erase(processorMs.begin(), processorMs.begin() + long(count));
    }
};

// One line of a report: the medians, then the verdict against the budget,
// unless the budget is 0 (a row given for scale only).
inline void printTimedRow(const char* name, const TimedSamples& samples, double budgetMs)
{
    const double wall = median(samples.wallMs);
    const double processor = median(samples.processorMs);
    std::printf("  %-40s %9.3f ms %9.3f ms", name, wall, processor);
    if (budgetMs > 0.0)
        std::printf("   target <= %g ms: %s (wall), %s (processor)", budgetMs,
                    wall <= budgetMs ? "met" : "MISSED", processor <= budgetMs ? "met" : "MISSED");
    std::printf("\n");
}
