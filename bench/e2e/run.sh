#!/usr/bin/env bash
# Runs the window benchmark on a private X display with a window manager and
# a private JACK server (dummy backend), with a throwaway home and data folder.
#
#   bench/e2e/run.sh [runs] [build dir]     (defaults: 7, build)
#
# Exit status: 0 targets met, 1 a target missed, 2 the benchmark could not run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
runs=${1:-7}
build=${2:-$root/build}
bench=$build/bin/window_bench
[ -x "$bench" ] || { echo "run.sh: $bench not built (it needs the tests built too)" >&2; exit 2; }

unset QT_QPA_PLATFORM
exec "$root/bench/support/isolated.sh" "$root/scripts/xvfb-test-display.sh" run --wm -- \
    "$root/scripts/jack-test-server.sh" run -- \
    "$bench" --runs "$runs" --changes $((runs + 1))
