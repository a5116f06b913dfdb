#pragma once

#include <vector>

// Counts what a watched thread does that an audio thread must not: heap
// allocations and releases (the program's own allocator replaced for the
// test executable that links this) and locks (pthread mutexes and
// read-write locks, with the distinct ones remembered). Unavailable under
// the sanitizers, which replace the allocator themselves.
//
// Threads: watchThisThread() on the thread to watch; the rest on any
// thread while no watched thread runs.
namespace AudioThreadWatch {

struct Counts
{
    long allocations = 0;
    long releases = 0;
    long locks = 0;
    std::vector<const void*> mutexes;
};

bool isAvailable();
void watchThisThread(bool on);
void reset();
Counts counts();

} // namespace AudioThreadWatch
