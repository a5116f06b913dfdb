#!/usr/bin/env bash
# Starts the instrument from a build folder, on the desktop this is run from:
#
#   scripts/run.sh BUILD_DIR [ARGUMENTS...]
#
# Arguments after the build folder go to the program (for example "all" or
# "pdplayer" to choose what the diagnostics window shows).
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [ARGUMENTS...]" >&2; exit 2; }
build_dir=$1
shift
program=$build_dir/bin/tuning-lattice

if [ ! -x "$program" ]; then
    echo "run: $program is missing; build it first (make run builds it)" >&2
    exit 1
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: there is no desktop to show the instrument's window on" >&2
    echo "run: (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "run: Start 'make run' from a terminal of a desktop session;" >&2
    echo "run: 'make test' checks the instrument without a screen or a sound card." >&2
    exit 1
fi

exec "$program" "$@"
