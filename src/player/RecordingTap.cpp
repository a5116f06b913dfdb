#include "RecordingTap.h"

#include <algorithm>
extern "C" {
#include <z_ringbuffer.h>
}

namespace {

constexpr int frameBytes = 2 * int(sizeof(float));

} // namespace

RecordingTap::RecordingTap() = default;

RecordingTap::~RecordingTap()
{
    if (sound_)
        rb_free(sound_);
}

bool RecordingTap::arm(int sampleRate)
{
    if (state() != State::Idle || sampleRate <= 0 || sampleRate > 192000)
        return false;
    // libpd's ring wants a multiple of 256 bytes.
    const int bytes = (sampleRate * ringSeconds * frameBytes + 255) / 256 * 256;
    if (bytes > soundBytes_) {
        // Idle: the audio thread does not look at the ring.
        if (sound_)
            rb_free(sound_);
        sound_ = rb_create(bytes);
        soundBytes_ = sound_ ? bytes : 0;
        if (!sound_)
            return false;
    }
    // Whatever a failed take left behind.
    rb_clear_buffer(sound_);
    Event stale;
    while (events_.pop(stale)) {
    }
    droppedFrames_.store(0, std::memory_order_relaxed);
    droppedEvents_.store(0, std::memory_order_relaxed);
    endFrame_.store(0, std::memory_order_relaxed);
    snapshot_.sampleRate = sampleRate;
    state_.store(State::Armed, std::memory_order_release);
    return true;
}

void RecordingTap::stop()
{
    State expected = State::Recording;
    if (!state_.compare_exchange_strong(expected, State::Stopping, std::memory_order_acq_rel)) {
        // Armed but not begun: there is no take to end.
        expected = State::Armed;
        if (state_.compare_exchange_strong(expected, State::Ended, std::memory_order_acq_rel))
            endFrame_.store(0, std::memory_order_release);
    }
}

void RecordingTap::forceEnd()
{
    const State now = state();
    if (now == State::Idle || now == State::Ended)
        return;
    endFrame_.store(now == State::Armed ? 0 : frame_, std::memory_order_release);
    state_.store(State::Ended, std::memory_order_release);
}

void RecordingTap::begin(const Snapshot& snapshot)
{
    const int sampleRate = snapshot_.sampleRate;
    snapshot_ = snapshot;
    snapshot_.sampleRate = sampleRate;
    frame_ = 0;
    State expected = State::Armed;
    state_.compare_exchange_strong(expected, State::Recording, std::memory_order_acq_rel);
}

void RecordingTap::endIfAsked()
{
    if (state() != State::Stopping)
        return;
    endFrame_.store(frame_, std::memory_order_release);
    state_.store(State::Ended, std::memory_order_release);
}

void RecordingTap::event(const PdMessageBuffer::Chunk& chunk)
{
    Event entry;
    entry.frame = frame_;
    entry.chunk = chunk;
    if (!events_.push(entry))
        droppedEvents_.fetch_add(1, std::memory_order_relaxed);
}

void RecordingTap::audio(const float* interleaved, int frames)
{
    const int bytes = frames * frameBytes;
    if (rb_available_to_write(sound_) >= bytes)
        rb_write_to_buffer(sound_, 1, reinterpret_cast<const char*>(interleaved), bytes);
    else
        droppedFrames_.fetch_add(frames, std::memory_order_relaxed);
    frame_ += frames;
}

int RecordingTap::takeAudio(float* interleaved, int frames)
{
    if (!sound_)
        return 0;
    const int available = rb_available_to_read(sound_) / frameBytes;
    const int taken = std::min(available, frames);
    if (taken > 0)
        rb_read_from_buffer(sound_, reinterpret_cast<char*>(interleaved), taken * frameBytes);
    return taken;
}

void RecordingTap::release()
{
    state_.store(State::Idle, std::memory_order_release);
}
