#!/usr/bin/env bash
# A private X display for tests, benchmarks and the demo on machines without
# a screen: Xvfb on a display number it picks itself (so parallel runs never
# collide), optionally with a window manager, which a window needs to be
# closed the way a user closes it (WM_DELETE_WINDOW).
#
#   xvfb-test-display.sh run [--wm] [--size WxHxD] [--timeout S] -- COMMAND [ARGS...]
#       Starts the display, runs COMMAND with DISPLAY set to it, then stops
#       everything it started, whatever happens; exits with COMMAND's status.
set -euo pipefail

wm=0
size=1280x800x24
timeout=20

die() {
    echo "xvfb-test-display: $*" >&2
    exit 2
}

[ "${1:-}" = run ] || die "usage: $0 run [--wm] [--size WxHxD] [--timeout S] -- COMMAND [ARGS...]"
shift
while [ $# -gt 0 ]; do
    case $1 in
    --wm) wm=1; shift ;;
    --size) size=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --) shift; break ;;
    *) die "unknown option $1" ;;
    esac
done
[ $# -gt 0 ] || die "run needs a command after --"
command -v Xvfb >/dev/null || die "Xvfb not found (install xvfb)"
[ "$wm" = 0 ] || command -v openbox >/dev/null || die "openbox not found (install openbox)"

state=$(mktemp -d "${TMPDIR:-/tmp}/lattice-xvfb.XXXXXX")
pids=()
cleanup() {
    local pid
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Polls, bounded, until the given command succeeds while process $1 lives.
wait_for() {
    local pid=$1 what=$2
    shift 2
    local deadline=$((SECONDS + timeout))
    until "$@" >/dev/null 2>&1; do
        kill -0 "$pid" 2>/dev/null || { cat "$state"/*.log >&2; die "$what exited before it was ready"; }
        [ $SECONDS -lt $deadline ] || die "$what was not ready within $timeout s"
        sleep 0.1
    done
}

# Xvfb writes the display number it chose to fd 3 once it accepts clients.
Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp 3>"$state/display" >"$state/xvfb.log" 2>&1 &
pids+=($!)
wait_for "${pids[0]}" Xvfb test -s "$state/display"
DISPLAY=:$(tr -d '[:space:]' <"$state/display")
export DISPLAY

if [ "$wm" = 1 ]; then
    openbox --sm-disable >"$state/openbox.log" 2>&1 &
    pids+=($!)
    # A window manager announces itself on the root window.
    wait_for "${pids[1]}" openbox sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
fi

status=0
"$@" || status=$?
exit $status
