#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

// Spectrum helpers for checking rendered audio. Any thread.
namespace ToneAnalysis {

inline std::vector<float> channel(const std::vector<float>& interleaved, int index,
                                  int channels = 2)
{
    std::vector<float> samples;
    for (std::size_t i = std::size_t(index); i < interleaved.size(); i += std::size_t(channels))
        samples.push_back(interleaved[i]);
    return samples;
}

inline float peakLevel(const std::vector<float>& samples)
{
    float peak = 0.0f;
    for (float sample : samples)
        peak = std::max(peak, std::fabs(sample));
    return peak;
}

// The largest jump from one sample to the next: what a click is made of.
inline float largestStep(const std::vector<float>& samples)
{
    float step = 0.0f;
    for (std::size_t i = 1; i < samples.size(); ++i)
        step = std::max(step, std::fabs(samples[i] - samples[i - 1]));
    return step;
}

// Goertzel magnitude of one (not necessarily bin-centred) frequency, Hann-windowed.
inline double magnitudeAt(const std::vector<float>& samples, double frequency, int sampleRate)
{
    const double pi = 3.14159265358979323846;
    const std::size_t n = samples.size();
    const double coefficient = 2.0 * std::cos(2.0 * pi * frequency / sampleRate);
    double previous = 0.0, beforePrevious = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * pi * double(i) / double(n - 1));
        const double current = window * samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return std::sqrt(previous * previous + beforePrevious * beforePrevious -
                     coefficient * previous * beforePrevious);
}

// The strongest frequency between low and high: a 1 Hz scan, refined by a parabola
// through the log magnitudes around the best step; for a steady tone, within 0.02 Hz.
inline double dominantFrequency(const std::vector<float>& samples, int sampleRate, double low,
                                double high)
{
    const auto level = [&](double f) { return std::log(magnitudeAt(samples, f, sampleRate)); };
    double best = low;
    for (double f = low + 1.0; f <= high; f += 1.0)
        if (level(f) > level(best))
            best = f;
    const double a = level(best - 1.0), b = level(best), c = level(best + 1.0);
    return best + 0.5 * (a - c) / (a - 2.0 * b + c);
}

} // namespace ToneAnalysis
