#pragma once

#include "AudioOutput.h"

#include <QHash>
#include <QList>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <portaudio.h>

class PdPlayer;

// The audio output on PortAudio: lists the devices that can play, opens one
// stereo float stream at a time on the chosen device and runs the audio
// callback that drives the whole sound engine (PdPlayer::processBlock).
//
// Threads: everything except the callback runs on the GUI thread. The callback
// runs on PortAudio's audio thread and touches only the player's block
// processing, the muted flag and the callback statistics, all without locks.
// closeDevice() stops the stream (which waits for a running callback) before
// closing it, so a device never changes under a running callback.
class PaAudioOutput : public AudioOutput
{
    Q_OBJECT

public:
    static constexpr int channelCount = 2;
    static constexpr int sampleRate = 44100; // Hz

    // Histogram of callback durations in per cent of the block's time budget
    // (256 frames at 44.1 kHz = 5.805 ms): bucket i counts durations below
    // histogramLimits[i] per cent; the last bucket counts overruns.
    static constexpr int histogramBucketCount = 7;
    static constexpr std::array<int, histogramBucketCount - 1> histogramLimits{5,  10, 25,
                                                                               50, 75, 100};

    struct CallbackStatistics
    {
        std::int64_t callbackCount = 0;
        // Callbacks whose status flags carried paOutputUnderflow. Not every
        // host API reports underflows; the durations tell the rest.
        std::int64_t underflowCount = 0;
        std::int64_t longestNanoseconds = 0;
        // The most processor time one callback took. Far below the longest
        // duration, it says the thread waited (preempted), not worked.
        std::int64_t longestCpuNanoseconds = 0;
        std::int64_t totalNanoseconds = 0;
        std::array<std::int64_t, histogramBucketCount> histogram{};
    };

    explicit PaAudioOutput(QObject* parent = nullptr);
    // Closes a stream that is still open and terminates PortAudio if term()
    // was not called, so that no callback outlives this object.
    ~PaAudioOutput() override;

    // Initialises PortAudio and opens the given list position, or the default
    // device when that fails. False when PortAudio or every device failed.
    bool init(int framesPerBuffer, int device, PdPlayer* player) override;
    void term() override;
    // "Host API: device name" of every device with outputs, in PortAudio's
    // order; "Windows DirectSound" is shortened to "DS". Rebuilds the map from
    // list position to PortAudio index that selectDevice() uses.
    QList<QString> devices() const override;
    void logDevices() const override;
    // Opens and starts the stream on a list position; -1, or a position not in
    // the last list, means the default output device. Emits
    // selectedDeviceChanged: -1 when a running stream is closed or the new one
    // fails, the list position once the new stream runs.
    bool selectDevice(int index) override;
    // Safe to call while the stream runs: the callback reads the flag once per
    // block and outputs silence while it is set.
    void mute() override;
    void unmute() override;
    bool isStreamRunning() const override;

    // Stops and closes the current stream; true also when none was open. False
    // only when closing failed with an unanticipated host error.
    bool closeDevice();

    // Any thread. Each counter is exact; while the stream runs a snapshot may
    // mix values one callback apart.
    CallbackStatistics callbackStatistics() const;
    void resetCallbackStatistics();

protected:
    // The PortAudio calls behind device listing and stream control, virtual
    // only so that tests can present device lists and failures that no test
    // machine has. GUI thread.
    virtual PaDeviceIndex paDeviceCount() const;
    virtual const PaDeviceInfo* paDeviceInfo(PaDeviceIndex device) const;
    virtual const PaHostApiInfo* paHostApiInfo(PaHostApiIndex hostApi) const;
    virtual PaDeviceIndex paDefaultOutputDevice() const;
    virtual PaError paIsFormatSupported(const PaStreamParameters& output) const;
    virtual PaError paOpenStream(PaStream** stream, const PaStreamParameters& output);
    virtual const PaStreamInfo* paStreamInfo(PaStream* stream) const;
    virtual PaError paStartStream(PaStream* stream);
    virtual PaError paStopStream(PaStream* stream);
    virtual PaError paCloseStream(PaStream* stream);
    virtual PaError paIsStreamActive(PaStream* stream) const;

private:
    static int audioCallback(const void* input, void* output, unsigned long frameCount,
                             const PaStreamCallbackTimeInfo* timeInfo,
                             PaStreamCallbackFlags statusFlags, void* userData);
    // One record of the statistics, when a stream closes.
    void logCallbackStatistics() const;
    // Audio thread.
    void recordCallback(std::int64_t startNanoseconds, std::int64_t nanoseconds,
                        std::int64_t cpuNanoseconds, int frames, PaStreamCallbackFlags statusFlags);
    // The list position of a PortAudio index, or 0 when it is not listed.
    int listPosition(PaDeviceIndex device) const;
    bool openStream(int index, PaDeviceIndex device);
    void logDevice(int index, PaDeviceIndex device) const;

    PaStream* stream_ = nullptr;
    bool initialised_ = false;
    mutable QHash<int, int> deviceMap_;
    std::atomic<bool> muted_{false};

    std::atomic<std::int64_t> callbackCount_{0};
    std::atomic<std::int64_t> underflowCount_{0};
    std::atomic<std::int64_t> longestNanoseconds_{0};
    std::atomic<std::int64_t> longestCpuNanoseconds_{0};
    std::atomic<std::int64_t> totalNanoseconds_{0};
    std::array<std::atomic<std::int64_t>, histogramBucketCount> histogram_{};

    // The latest blocks that took longer than their time or came after an
    // underflow, kept for the record logged when the stream closes, which
    // tells a late wake-up (an underflow after a block on time) from work
    // that did not fit. Written by the audio thread alone; read once the
    // stream has stopped.
    struct NotableBlock
    {
        std::atomic<std::int64_t> startNanoseconds{0}; // steady clock
        std::atomic<std::int64_t> nanoseconds{0};
        std::atomic<std::int64_t> cpuNanoseconds{0};
        std::atomic<bool> afterUnderflow{false};
    };
    static constexpr int notableBlockCount = 256;
    std::array<NotableBlock, notableBlockCount> notableBlocks_{};
    std::atomic<std::int64_t> notableBlockTotal_{0};
    static_assert(std::atomic<std::int64_t>::is_always_lock_free,
                  "the audio callback's statistics must not take locks");
};
