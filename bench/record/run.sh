#!/usr/bin/env bash
# Runs the recording benchmark on a private JACK server (dummy backend, 256
# frames), with a throwaway home and data folder.
#
#   bench/record/run.sh [minutes] [build dir]     (defaults: 10, build)
#
# Exit status: 0 targets met, 1 a target missed, 2 the benchmark could not run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
minutes=${1:-10}
build=${2:-$root/build}
bench=$build/bin/record_bench
[ -x "$bench" ] || { echo "run.sh: $bench not built" >&2; exit 2; }
exec "$root/bench/support/isolated.sh" "$root/scripts/jack-test-server.sh" run -- \
    "$bench" "$minutes"
