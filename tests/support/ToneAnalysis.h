#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

// Small spectrum helpers for checking rendered audio: which frequency a
// signal is made of, and how loud it gets. Any thread.
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

// Goertzel magnitude of one (not necessarily bin-centred) frequency in the
// Hann-windowed signal.
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

// The strongest frequency between low and high: a 1 Hz scan, then a golden-section
// search around the best step; for a steady tone, exact to well under 0.1 Hz.
inline double dominantFrequency(const std::vector<float>& samples, int sampleRate, double low,
                                double high)
{
    double best = low, bestMagnitude = -1.0;
    for (double f = low; f <= high; f += 1.0) {
        const double magnitude = magnitudeAt(samples, f, sampleRate);
        if (magnitude > bestMagnitude) {
            best = f;
            bestMagnitude = magnitude;
        }
    }
    const double ratio = (std::sqrt(5.0) - 1.0) / 2.0;
    double a = best - 1.0, b = best + 1.0;
    while (b - a > 1e-3) {
        const double c = b - ratio * (b - a), d = a + ratio * (b - a);
        if (magnitudeAt(samples, c, sampleRate) > magnitudeAt(samples, d, sampleRate))
            b = d;
        else
            a = c;
    }
    return (a + b) / 2.0;
}

} // namespace ToneAnalysis
