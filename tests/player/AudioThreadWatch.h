#pragma once

#include <vector>

// Counts a watched thread's heap calls (the allocator is replaced in the executable that
// links this) and its pthread mutex and read-write lock calls, remembering the distinct
// locks. Unavailable under the sanitizers. watchThisThread() on the watched thread; the
// rest while no watched thread runs.
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
