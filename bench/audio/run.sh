#!/usr/bin/env bash
# Runs the audio callback benchmark on a private JACK server (dummy backend,
# 44.1 kHz, 256 frames), with a throwaway home and data folder.
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

exec "$root/bench/support/isolated.sh" \
    "$root/scripts/jack-test-server.sh" run -- "$bench" "$seconds"
