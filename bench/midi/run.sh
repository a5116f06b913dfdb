#!/usr/bin/env bash
# Runs the MIDI benchmark on a private JACK server (dummy backend, 256
# frames), with a throwaway home and data folder.
#
#   bench/midi/run.sh [flood seconds] [build dir]     (defaults: 60, build)
#
# Exit status: 0 targets met, 1 a target missed, 2 the benchmark could not run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
build=${2:-$root/build}
bench=$build/bin/midi_bench
[ -x "$bench" ] || { echo "run.sh: $bench not built (it needs the tests built too)" >&2; exit 2; }
export QT_QPA_PLATFORM=offscreen
exec "$root/bench/support/isolated.sh" "$root/scripts/jack-test-server.sh" run -- \
    "$bench" --flood-seconds "$seconds"
