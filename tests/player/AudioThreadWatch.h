#pragma once

#include <vector>

// Counts a watched thread's heap calls (the executable linking this replaces the allocator)
// and pthread mutex and read-write lock calls, remembering the distinct locks. Not under the
// sanitizers. watchThisThread() on the watched thread; the rest while none runs.
namespace AudioThreadWatch {

struct Counts
{
    long heapCalls = 0; // allocations and frees
    long locks = 0;
    std::vector<const void*> mutexes;
};

bool isAvailable();
void watchThisThread(bool on);
void reset();
Counts counts();

} // namespace AudioThreadWatch
