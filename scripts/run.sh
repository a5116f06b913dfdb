#!/usr/bin/env bash
# Starts the instrument from a build folder, on the desktop this is run from:
#
#   scripts/run.sh BUILD_DIR [ARGUMENTS...]
#
# Arguments after the build folder go to the program (for example "all" or
# "pdplayer" to choose what the diagnostics window shows).
#
# With no desktop (neither DISPLAY nor WAYLAND_DISPLAY set, as on a server or
# in a container) it runs the short demonstration of scripts/demo.sh instead,
# on a virtual display with a virtual sound device, and says where the
# screenshots and the recording it made are.
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
    echo "run: no desktop here (neither DISPLAY nor WAYLAND_DISPLAY is set);" >&2
    echo "run: playing a short demonstration on a virtual display instead." >&2
    exec bash "$(dirname "$0")/demo.sh" "$build_dir"
fi

exec "$program" "$@"
