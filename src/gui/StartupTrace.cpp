#include "StartupTrace.h"

#include <QtGlobal>
#include <chrono>
#include <cstdio>

bool StartupTrace::enabled()
{
    static const bool traced = qEnvironmentVariableIsSet("LATTICE_STARTUP_TRACE");
    return traced;
}

void StartupTrace::mark(const char* name)
{
    if (!enabled())
        return;
    // steady_clock is CLOCK_MONOTONIC in libstdc++, shared by every process.
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const long long nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    std::fprintf(stderr, "startup-trace %s %lld\n", name, nanoseconds);
    std::fflush(stderr);
}
