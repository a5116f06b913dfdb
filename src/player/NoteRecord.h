#pragma once

#include "LatticeRatio.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <semaphore.h>

// A note the player started or stopped, for whoever passes notes on to other
// instruments (the MIDI output). Written by the audio thread into a ring of
// these; a small fixed record, so that the audio thread never allocates.
struct NoteRecord
{
    LatticeRatio ratio;
    // The transposition when the record was made: ratio over it is the
    // ball that was played (for a note on).
    LatticeRatio transposition{1};
    // The frequency the player's own voice plays (base frequency x ratio).
    float frequency = 0.0f;
    // The note's gain (velocity) at its start; 0 for a stop.
    float gain = 0.0f;
    bool on = false;
    // When the audio block that started or stopped it began, in
    // nanoseconds of the steady clock.
    std::int64_t blockStartNs = 0;
};

// Wakes one waiting thread from the audio thread: a counting semaphore,
// whose post neither blocks nor allocates.
class NoteWakeup
{
public:
    NoteWakeup() { sem_init(&semaphore_, 0, 0); }
    ~NoteWakeup() { sem_destroy(&semaphore_); }
    NoteWakeup(const NoteWakeup&) = delete;
    NoteWakeup& operator=(const NoteWakeup&) = delete;

    void post() { sem_post(&semaphore_); }
    // Waits at most `ms` milliseconds; true when woken.
    bool wait(int ms)
    {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += long(ms % 1000) * 1000000L;
        deadline.tv_sec += ms / 1000 + deadline.tv_nsec / 1000000000L;
        deadline.tv_nsec %= 1000000000L;
        while (sem_timedwait(&semaphore_, &deadline) != 0)
            if (errno != EINTR)
                return false;
        return true;
    }

private:
    sem_t semaphore_;
};
