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

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config
# PortAudio's ALSA probe reports every missing card on stderr; keep it out
# of the report but at hand.
status=0
"$root/scripts/jack-test-server.sh" run -- "$bench" "$seconds" 2>"$home/stderr.log" || status=$?
grep -v '^ALSA lib' "$home/stderr.log" >&2 || true
exit $status
