#pragma once

// Timing marks of the start-up for the start-up benchmark and for test
// harnesses that need to know when the program is ready. Enabled only when
// the environment variable LATTICE_STARTUP_TRACE is set (to anything); then
// each mark is one line on standard error:
//
//   startup-trace NAME NANOSECONDS
//
// where NANOSECONDS is the system-wide monotonic clock (CLOCK_MONOTONIC on
// Linux), so that a harness can compare it with its own reading taken just
// before it started the program. Disabled, a mark costs one flag test.
//
// GUI thread (the marks are made during start-up only).
class StartupTrace
{
public:
    static bool enabled();
    static void mark(const char* name);
};
