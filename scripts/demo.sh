#!/usr/bin/env bash
# A short demonstration of the instrument for a machine with no screen and no
# sound card: the real program on a private X display (Xvfb, with openbox)
# and a private JACK server (dummy backend), played by mouse clicks on its
# balls (xdotool) and by wand reads (lattice-tool wand), with a throwaway
# data folder.
#
#   scripts/demo.sh BUILD_DIR [OUTPUT_DIR]      (output default: BUILD_DIR/demo)
#
# It plays A major by clicks, D major from the wand, transposes the lattice
# up a fifth, plays E major by clicks and A major from the wand again, then
# closes the window as a user does. Into OUTPUT_DIR it writes screenshots of
# both looks with the note cards showing, the recording of what the program
# played and a spectrogram of it, and prints where they are.
# Exit status: 0 on success, 1 when a step failed, 2 when something it needs
# is missing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)

die() {
    echo "demo: $*" >&2
    exit 1
}

# Seconds of sound recorded; the score below fits in it.
record_seconds=17

# ---------------------------------------------------------------------------
# Outside: check the tools, then run the inside on a display and a server.
if [ "${1:-}" != --inside ]; then
    [ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [OUTPUT_DIR]" >&2; exit 2; }
    build=$(cd "$1" && pwd)
    out=${2:-$build/demo}
    [ -x "$build/bin/tuning-lattice" ] || { echo "demo: $build/bin/tuning-lattice is not built" >&2; exit 2; }
    [ -x "$build/bin/lattice-tool" ] || { echo "demo: $build/bin/lattice-tool is not built" >&2; exit 2; }
    missing=()
    for tool in Xvfb openbox xdotool xprop jackd jack_lsp jack_rec sox import; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "demo: missing ${missing[*]}; 'make setup' installs them" >&2
        exit 2
    fi
    mkdir -p "$out"
    out=$(cd "$out" && pwd)
    exec bash "$here/xvfb-test-display.sh" run --wm --size 1280x800x24 -- \
        bash "$here/jack-test-server.sh" run -- \
        bash "$0" --inside "$build" "$out"
fi

# ---------------------------------------------------------------------------
# Inside: DISPLAY and JACK_DEFAULT_SERVER are set.
build=$2
out=$3
state=$(mktemp -d "${TMPDIR:-/tmp}/lattice-demo.XXXXXX")
program_pid=""
recorder_pid=""
cleanup() {
    local pid
    for pid in $recorder_pid $program_pid; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

export HOME=$state/home XDG_DATA_HOME=$state/data XDG_CONFIG_HOME=$state/config
export QT_QPA_PLATFORM=xcb
unset QT_PLUGIN_PATH QT_QPA_GENERIC_PLUGINS
data=$XDG_DATA_HOME/"Elsted Tuning Lattice"
mkdir -p "$HOME" "$data"

# Polls, bounded, until the command succeeds while the program runs.
wait_until() {
    local what=$1 seconds=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        kill -0 "$program_pid" 2>/dev/null || { tail -n 20 "$state/program.err" >&2; die "the program ended while waiting for $what"; }
        [ $SECONDS -lt $deadline ] || die "no $what within $seconds s"
        sleep 0.1
    done
}

# A UDP port nobody listens on, for the wand.
port=8888
for _ in $(seq 50); do
    candidate=$((20000 + RANDOM % 40000))
    if ! ss -Hlun "sport = :$candidate" 2>/dev/null | grep -q .; then
        port=$candidate
        break
    fi
done

# The wand's tags: the notes of D major, stop-all and a transposition by a
# fifth. After that transposition the same three tags play A major.
cat >"$data/rfid_map.json" <<EOF
{
    "d0000000d1": { "event": 0, "value": "/-3" },
    "d0000000d2": { "event": 0, "value": "/-3/5" },
    "d0000000d3": { "event": 0, "value": "/" },
    "d0000000a0": { "event": 1, "value": 1 },
    "d0000000f5": { "event": 2, "value": 3 }
}
EOF
cat >"$data/options.json" <<EOF
{ "udpPort": $port, "windowPos": "20,20", "windowSize": "1200,720" }
EOF

LATTICE_STARTUP_TRACE=1 LATTICE_DUMP_BALLS=1 LATTICE_MESSAGE_LOG=$state/messages.jsonl \
    "$build/bin/tuning-lattice" >"$state/program.out" 2>"$state/program.err" &
program_pid=$!
wait_until "start-up" 30 grep -q '^startup-trace event-loop ' "$state/program.err"
wait_until "sound ports" 10 sh -c 'jack_lsp | grep -q "^PortAudio:out_1$"'
wait_until "window" 10 xdotool search --onlyvisible --pid "$program_pid" --name '^Elsted Tuning Lattice$'
window=$(xdotool search --onlyvisible --pid "$program_pid" --name '^Elsted Tuning Lattice$' | head -n 1)
wait_until "ball positions" 10 grep -q '^ball / ' "$state/program.out"

jack_rec -f "$out/demo.wav" -d "$record_seconds" PortAudio:out_0 PortAudio:out_1 \
    >"$state/recorder.log" 2>&1 &
recorder_pid=$!
started=$(date +%s%N)

# Waits until the score's time: milliseconds after the recording started.
at() {
    local remaining=$(($1 - ($(date +%s%N) - started) / 1000000))
    if [ $remaining -gt 0 ]; then sleep "$((remaining / 1000)).$(printf %03d $((remaining % 1000)))"; fi
}

# The newest position of a ball in the window ("x y"), from the view's dumps.
ball_at() {
    awk -v path="$1" '$1 == "ball" && $2 == path { x = $3; y = $4 } END { if (x != "") print x, y }' \
        "$state/program.out"
}

click_ball() {
    local position
    position=$(ball_at "$1")
    [ -n "$position" ] || die "ball $1 is not on screen"
    # shellcheck disable=SC2086
    xdotool mousemove --window "$window" $position click 1
}

wand() {
    "$build/bin/lattice-tool" wand "$@" --port "$port" >/dev/null
}

# The look switcher "Flowers | Grapes" stands at (108, 124) in the window.
# Switching shows the other view, which dumps its balls anew.
switch_look() {
    local x=$1 lines
    lines=$(wc -l <"$state/program.out")
    xdotool mousemove --window "$window" "$x" 132 click 1
    wait_until "the other look" 5 sh -c "tail -n +$((lines + 1)) '$state/program.out' | grep -q '^ball '"
}

screenshot() {
    import -window root "$out/$1.png"
}

echo "demo: playing (about $record_seconds s)"
at 500; click_ball /
at 900; click_ball /5
at 1300; click_ball /3
at 2300; screenshot flowers
switch_look 190
screenshot grapes
switch_look 130
at 5500; wand d0000000a0
wand d0000000d1
at 5900; wand d0000000d2
at 6300; wand d0000000d3
at 8500; wand d0000000a0
wand d0000000f5
at 9000; click_ball /
at 9400; click_ball /5
at 9800; click_ball /3
at 10800; screenshot flowers-transposed
at 12000; wand d0000000a0
wand d0000000d1
at 12400; wand d0000000d2
at 12800; wand d0000000d3
at 15500; wand d0000000a0

deadline=$((SECONDS + record_seconds + 10))
while kill -0 "$recorder_pid" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || die "the recording did not end"
    sleep 0.2
done
wait "$recorder_pid" || { cat "$state/recorder.log" >&2; die "recording failed"; }
recorder_pid=""

# Closed as a user closes it: the window manager asks the window to close.
xdotool windowactivate --sync "$window" key --clearmodifiers alt+F4
deadline=$((SECONDS + 15))
while kill -0 "$program_pid" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || die "the program did not end after its window was closed"
    sleep 0.1
done
status=0
wait "$program_pid" || status=$?
program_pid=""
[ "$status" = 0 ] || { tail -n 20 "$state/program.err" >&2; die "the program ended with status $status"; }
[ ! -s "$state/messages.jsonl" ] || { cat "$state/messages.jsonl" >&2; die "the program showed a message box"; }

peak=$(sox "$out/demo.wav" -n stat 2>&1 | awk '/^Maximum amplitude/ { print $3 }')
awk -v peak="${peak:-0}" 'BEGIN { exit !(peak > 0.01) }' || die "the recording is silent"

sox "$out/demo.wav" -n remix 1 rate 4k spectrogram -x 1000 -y 400 -z 90 \
    -t "Elsted Tuning Lattice: A, D, E (transposed), A" -o "$out/spectrogram.png"

echo "demo: done. What the instrument showed and played is in $out:"
for file in flowers.png grapes.png flowers-transposed.png demo.wav spectrogram.png; do
    echo "  $out/$file"
done
