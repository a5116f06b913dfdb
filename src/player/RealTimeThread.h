#pragma once

#include <QDebug>
#include <pthread.h>

// Threads that pass notes on to other instruments should send within a
// millisecond of the block that played them, yet must never take the
// processor from the audio thread: they run one real-time step below it,
// at whatever priority the sound server gave it, and with ordinary
// scheduling when it has none (a plain thread, or no right to more).
// Called by the thread itself, once the audio thread's priority is known.
inline void followAudioPriority(const char* who, int audioPriority)
{
    if (audioPriority <= 1)
        return;
    sched_param parameters{};
    parameters.sched_priority = audioPriority - 1;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) != 0)
        qInfo() << who << "runs without real-time scheduling";
}
