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

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config
unset QT_QPA_PLATFORM
# PortAudio's ALSA probe reports every missing card on stderr; keep it out
# of the report but at hand.
status=0
"$root/scripts/xvfb-test-display.sh" run -- \
    "$root/scripts/jack-test-server.sh" run -- "$bench" "$runs" 2>"$home/stderr.log" || status=$?
grep -v '^ALSA lib' "$home/stderr.log" >&2 || true
exit $status
