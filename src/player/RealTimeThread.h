#pragma once

#include <QDebug>
#include <pthread.h>

// Threads that pass notes on to other instruments should send within a
// millisecond of the block that played them: they ask for real-time
// scheduling, a step below where audio servers run their own threads.
// Without the right (a user outside the audio group) they run as they are,
// later under load. Called by the thread itself.
inline void askForRealTimeScheduling(const char* who)
{
    sched_param parameters{};
    parameters.sched_priority = 40;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) != 0)
        qInfo() << who << "runs without real-time scheduling";
}
