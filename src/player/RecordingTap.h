#pragma once

#include "LatticeRatio.h"
#include "PdMessageBuffer.h"
#include "SpscRing.h"

#include <array>
#include <atomic>
#include <cstdint>

struct ring_buffer;

// What the audio thread hands a recording: every block it plays and every
// event it executes, with the frame it took effect at, through lock-free
// rings made before any recording starts; and, as a recording begins, the
// player's state, so that the take can be played again from its first
// frame. The audio thread never waits, allocates or touches a file here: a
// full ring drops and counts.
//
// One tap lives as long as the player it is given to and serves one take
// after another. Threads: arm() and stop() by whoever controls recording;
// begin(), event(), audio() and the state's moves by the audio thread; the
// take*() calls by the one thread that writes the files.
class RecordingTap
{
public:
    enum class State : int
    {
        Idle,
        Armed,     // the next block begins the take
        Recording, // blocks and events go into the rings
        Stopping,  // the next block ends it
        Ended,     // the end frame is set; the writer drains and closes
    };

    // The player as the first block of a take finds it.
    struct Snapshot
    {
        int sampleRate = 0;
        LatticeRatio transposition{1};
        float volume = 0.0f;
        float voiceVolume = 1.0f;
        float baseFrequency = 440.0f;
        bool mono = false;
        std::array<bool, 24> primeEnabled{};
        std::array<float, 8> macros{};
        // Notes sounding when the take begins (not released).
        std::array<LatticeRatio, 128> sounding{};
        int soundingCount = 0;
    };
    struct Event
    {
        std::int64_t frame = 0;
        PdMessageBuffer::Chunk chunk{};
    };

    static constexpr std::size_t eventCapacity = 16384;
    // Seconds of stereo sound the ring holds while the writer catches up.
    static constexpr int ringSeconds = 4;

    RecordingTap();
    ~RecordingTap();
    RecordingTap(const RecordingTap&) = delete;
    RecordingTap& operator=(const RecordingTap&) = delete;

    // Control thread. Sizes the sound ring for the rate (at most 192 kHz)
    // and asks the next block to begin a take; false while one is going.
    bool arm(int sampleRate);
    void stop();
    // Ends a take at once, for when no audio thread runs to end it (the
    // stream stopped): only when no block can be running.
    void forceEnd();
    State state() const { return state_.load(std::memory_order_acquire); }

    // Audio thread, at the start of a block: takes Armed to Recording (the
    // caller fills the snapshot first) and Stopping to Ended.
    bool beginsNow() const { return state() == State::Armed; }
    void begin(const Snapshot& snapshot);
    bool isRecording() const { return state() == State::Recording; }
    void endIfAsked();
    void event(const PdMessageBuffer::Chunk& chunk);
    // After the block: its stereo frames.
    void audio(const float* interleaved, int frames);

    // Writer thread.
    const Snapshot& snapshot() const { return snapshot_; }
    bool takeEvent(Event& event) { return events_.pop(event); }
    // Up to `frames` stereo frames into `interleaved`; how many it gave.
    int takeAudio(float* interleaved, int frames);
    // Once Ended: the take's length in frames.
    std::int64_t endFrame() const { return endFrame_.load(std::memory_order_acquire); }
    // Lost to full rings during the take.
    std::int64_t droppedFrames() const { return droppedFrames_.load(std::memory_order_relaxed); }
    std::int64_t droppedEvents() const { return droppedEvents_.load(std::memory_order_relaxed); }
    // The writer is done with the take: the tap can be armed again.
    void release();

private:
    std::atomic<State> state_{State::Idle};
    Snapshot snapshot_;
    SpscRing<Event, eventCapacity> events_;
    ring_buffer* sound_ = nullptr;
    int soundBytes_ = 0;
    std::int64_t frame_ = 0; // audio thread
    std::atomic<std::int64_t> endFrame_{0};
    std::atomic<std::int64_t> droppedFrames_{0};
    std::atomic<std::int64_t> droppedEvents_{0};
};
