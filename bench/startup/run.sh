#!/usr/bin/env bash
# Runs the start-up benchmark on a private X display and a private JACK
# server (dummy backend), with a throwaway home and data folder.
#
#   bench/startup/run.sh [runs] [build dir]     (defaults: 11, build)
#
# Exit status: 0 target met, 1 target missed, 2 the benchmark could not run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
runs=${1:-11}
build=${2:-$root/build}
bench=$build/bin/startup_bench
[ -x "$bench" ] || { echo "run.sh: $bench not built" >&2; exit 2; }

unset QT_QPA_PLATFORM
exec "$root/bench/support/isolated.sh" "$root/scripts/xvfb-test-display.sh" run -- \
    "$root/scripts/jack-test-server.sh" run -- "$bench" "$runs"
