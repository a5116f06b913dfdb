#!/usr/bin/env bash
# Runs the audio callback benchmark on a private JACK server (dummy backend,
# 44.1 kHz, 256 frames), with a throwaway home and data folder, then the
# machine's floor: the same soak with a callback of fixed work and no player.
#
#   bench/audio/run.sh [seconds] [build dir]     (defaults: 60, build)
#
# Exit status: 0 targets met, 1 a target missed, 2 the benchmark could not run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
build=${2:-$root/build}
bench=$build/bin/audio_callback_bench
[ -x "$bench" ] || { echo "run.sh: $bench not built" >&2; exit 2; }

status=0
"$root/bench/support/isolated.sh" \
    "$root/scripts/jack-test-server.sh" run -- "$bench" "$seconds" || status=$?
# The machine's floor on a fresh server for the same time: what a callback
# of fixed work, no player at all, suffers on this machine, with its memory
# in the cache and beyond it.
for kilobytes in 64 4096; do
    echo "== the machine's floor, $kilobytes KB"
    "$root/bench/support/isolated.sh" "$root/scripts/jack-test-server.sh" run -- \
        "$build/bin/audio_callback_floor_bench" "$seconds" "$kilobytes" || true
done
exit $status
