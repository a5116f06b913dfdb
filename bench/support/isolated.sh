#!/usr/bin/env bash
# Runs a benchmark with a throwaway home, data and config folder, so that no
# run reads or writes a real user's files, and keeps PortAudio's ALSA probe
# (a line for every missing sound card) out of the report: the rest of
# stderr follows the report.
#
#   bench/support/isolated.sh COMMAND [ARGS...]     (exits with COMMAND's status)
set -euo pipefail
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config
status=0
"$@" 2>"$home/stderr.log" || status=$?
grep -v '^ALSA lib' "$home/stderr.log" >&2 || true
exit $status
