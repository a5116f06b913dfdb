// The machine's own floor for the callback soak: a PortAudio stream on the
// same JACK server whose callback only does a fixed piece of arithmetic,
// calibrated to about the mean callback of the loaded player, scattered
// over a block of memory: 64 KB stay in the processor's cache, 4 MB do not
// (128 voices' objects are of that order). Whatever this reports beyond the
// fixed time (long callbacks, underflows) comes from the machine and the
// server, not from the player.
//
// Usage: audio_callback_floor_bench [seconds] [KB of memory] [milliseconds of work]
//        (defaults: 60, 64, 0.7)

#include <portaudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int sampleRate = 44100;
constexpr int framesPerBuffer = 256;
constexpr double budgetMs = 1000.0 * framesPerBuffer / sampleRate;

struct Floor
{
    std::vector<float> memory;
    std::atomic<long> steps{1};
    // The first callbacks' times, for calibrating inside the stream.
    std::array<double, 512> firstMs{};
    std::atomic<int> firstCount{0};
    std::atomic<long> callbacks{0};
    std::atomic<long> underflows{0};
    std::atomic<long> aboveHalf{0};
    std::atomic<double> longestMs{0.0};
    std::atomic<double> totalMs{0.0};

    // Fixed work: `steps` dependent updates at scattered places. The odd
    // stride visits every element of the (power of two) block in turn.
    float work()
    {
        float carry = 0.0f;
        const std::size_t size = memory.size();
        std::size_t at = 0;
        const long count = steps.load(std::memory_order_relaxed);
        for (long step = 0; step < count; ++step) {
            at = (at + 40503 + std::size_t(carry > 1e9f) * 2) % size;
            carry = carry * 0.5f + memory[at];
            memory[at] = carry * 0.25f + 0.5f;
        }
        return carry;
    }

    double timeWork()
    {
        const Clock::time_point start = Clock::now();
        volatile float sink = work();
        (void)sink;
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }

    // Scales `steps` so that the median of `times` becomes `ms`.
    void calibrate(std::vector<double> times, double ms)
    {
        std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
        steps = std::max(1L, long(double(steps.load()) * ms / times[times.size() / 2]));
    }
};

int callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
             PaStreamCallbackFlags flags, void* userData)
{
    auto* floor = static_cast<Floor*>(userData);
    const double ms = floor->timeWork();
    const int first = floor->firstCount.load(std::memory_order_relaxed);
    if (first < int(floor->firstMs.size())) {
        floor->firstMs[std::size_t(first)] = ms;
        floor->firstCount.store(first + 1, std::memory_order_release);
    }
    std::fill_n(static_cast<float*>(output), 2 * frames, 0.0f);
    floor->callbacks.fetch_add(1, std::memory_order_relaxed);
    if (flags & paOutputUnderflow)
        floor->underflows.fetch_add(1, std::memory_order_relaxed);
    if (ms > budgetMs / 2)
        floor->aboveHalf.fetch_add(1, std::memory_order_relaxed);
    floor->totalMs.store(floor->totalMs.load(std::memory_order_relaxed) + ms,
                         std::memory_order_relaxed);
    if (ms > floor->longestMs.load(std::memory_order_relaxed))
        floor->longestMs.store(ms, std::memory_order_relaxed);
    return paContinue;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int kilobytes = argc > 2 ? std::atoi(argv[2]) : 64;
    const double workMs = argc > 3 ? std::atof(argv[3]) : 0.7;
    if (seconds <= 0 || kilobytes <= 0 || workMs <= 0.0) {
        std::fprintf(stderr, "usage: %s [seconds] [KB of memory] [milliseconds of work]\n",
                     argv[0]);
        return 2;
    }
    Floor floor;
    floor.memory.assign(std::size_t(kilobytes) * 1024 / sizeof(float), 1.0f);
    // A first guess here; memory that waits between callbacks is slower, so
    // the real calibration runs on the stream's first callbacks.
    floor.steps = 100000;
    floor.calibrate({floor.timeWork(), floor.timeWork(), floor.timeWork()}, workMs);

    if (Pa_Initialize() != paNoError) {
        std::fprintf(stderr, "PortAudio did not start\n");
        return 2;
    }
    const PaHostApiIndex jack = Pa_HostApiTypeIdToHostApiIndex(paJACK);
    const PaHostApiInfo* api = jack >= 0 ? Pa_GetHostApiInfo(jack) : nullptr;
    PaStreamParameters parameters{};
    parameters.device = api ? api->defaultOutputDevice : paNoDevice;
    parameters.channelCount = 2;
    parameters.sampleFormat = paFloat32;
    parameters.suggestedLatency = 2 * budgetMs / 1000.0;
    PaStream* stream = nullptr;
    if (parameters.device == paNoDevice ||
        Pa_OpenStream(&stream, nullptr, &parameters, sampleRate, framesPerBuffer, paNoFlag,
                      &callback, &floor) != paNoError ||
        Pa_StartStream(stream) != paNoError) {
        std::fprintf(stderr, "no JACK output could be opened\n");
        Pa_Terminate();
        return 2;
    }
    // A second of callbacks to calibrate on, then one to settle, as the soak
    // does, then the measured window.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const int first = floor.firstCount.load(std::memory_order_acquire);
    if (first > 0)
        floor.calibrate({floor.firstMs.begin(), floor.firstMs.begin() + first}, workMs);
    floor.firstCount.store(int(floor.firstMs.size()));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    floor.callbacks = 0;
    floor.underflows = 0;
    floor.aboveHalf = 0;
    floor.longestMs = 0.0;
    floor.totalMs = 0.0;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    Pa_StopStream(stream);
    Pa_CloseStream(stream);
    Pa_Terminate();

    const long callbacks = floor.callbacks.load();
    std::printf("fixed work per callback: %.3f ms (%.1f %% of the budget) over %d KB, %d s, "
                "%ld callbacks\n",
                workMs, 100.0 * workMs / budgetMs, kilobytes, seconds, callbacks);
    std::printf("underflows: %ld; longest callback: %.3f ms = %.1f %%; above 50 %%: %ld; "
                "mean %.1f %%\n",
                floor.underflows.load(), floor.longestMs.load(),
                100.0 * floor.longestMs.load() / budgetMs, floor.aboveHalf.load(),
                callbacks > 0 ? 100.0 * floor.totalMs.load() / callbacks / budgetMs : 0.0);
    return 0;
}
