#!/usr/bin/env bash
# The long-run soak: the real program on a private X display (Xvfb, with
# openbox) and a private JACK server (dummy backend, 44.1 kHz, 256 frames),
# with a throwaway home and data folder, played by the wand for many minutes:
# 1000 datagrams a second to 127.0.0.1, 1 % of them of the wrong size, the
# rest note toggles on six lattice paths, and a patch step every minute (the
# first after 30 s). bench/soak/soak_sender sends them and watches; at the end
# the window is closed as a user closes it.
#
#   bench/soak/run.sh [minutes] [build dir]     (defaults: 30, build)
#
# Targets: resident memory (VmRSS) at the end within 5 % of its figure after
# the first minute; no underflow outside a patch change; log.txt under 1 MiB
# (and never rotated); the program runs the whole time and ends orderly when
# its window is closed; and every patch step the wand sent changes the
# patch (the program's log shows the change and the new patch opening).
#
# Underflows are the xruns the JACK server reports to its clients: the
# program's PortAudio stream (JACK host API) marks the callback after each
# of them with paOutputUnderflow. One inside a patch change (from the log's
# "Loading voice patch" to half a second after its "Opening PD patch") is
# counted apart.
#
# The wand's port is 8888, the program's default, unless something listens
# there already; then a free one is written into the program's options.
#
# Exit status: 0 every target met, 1 a target missed, 2 the soak could not run.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

keep=0
could_not_run() {
    echo "soak: $*" >&2
    keep=1
    exit 2
}

# ---------------------------------------------------------------------------
# Outside: check what the soak needs, then run the inside on a display and a
# sound server of its own.
if [ "${1:-}" != --inside ]; then
    minutes=${1:-30}
    build=${2:-$root/build}
    [[ $minutes =~ ^[0-9]+([.][0-9]+)?$ ]] && awk -v m="$minutes" 'BEGIN { exit !(m > 0) }' ||
        could_not_run "minutes must be a positive number, not \"$minutes\""
    build=$(cd "$build" 2>/dev/null && pwd) || could_not_run "no build folder ${2:-$root/build}"
    for program in tuning-lattice soak_sender; do
        [ -x "$build/bin/$program" ] || could_not_run "$build/bin/$program is not built"
    done
    missing=()
    for tool in Xvfb openbox xdotool xprop jackd jack_lsp ss; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    [ ${#missing[@]} -eq 0 ] || could_not_run "missing ${missing[*]}; 'make setup' installs them"
    unset QT_QPA_PLATFORM
    exec bash "$root/scripts/xvfb-test-display.sh" run --wm -- \
        bash "$root/scripts/jack-test-server.sh" run -- \
        bash "$0" --inside "$minutes" "$build"
fi

# ---------------------------------------------------------------------------
# Inside: DISPLAY and JACK_DEFAULT_SERVER are set.
minutes=$2
build=$3
seconds=$(awk -v m="$minutes" 'BEGIN { printf "%d", m * 60 + 0.5 }')
# The memory mark after the first minute; in a run of under two minutes,
# halfway.
mark=$(awk -v s="$seconds" 'BEGIN { printf "%d", (s >= 120 ? 60 : s / 2) }')

state=$(mktemp -d "${TMPDIR:-/tmp}/lattice-soak.XXXXXX")
# Where jack-test-server.sh lets the server write its log.
jack_log=${TMPDIR:-/tmp}/lattice-jack/$JACK_DEFAULT_SERVER/jackd.log
program_pid=""
keep=0
cleanup() {
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        kill -TERM "$program_pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
    fi
    # A soak that failed keeps its data folder, the program's output and
    # the server's log for a look afterwards.
    if [ $keep = 1 ]; then
        cp "$jack_log" "$state/" 2>/dev/null
        echo "soak: the run's files are kept in $state" >&2
    else
        rm -rf "$state"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

export HOME=$state/home XDG_DATA_HOME=$state/data XDG_CONFIG_HOME=$state/config
export QT_QPA_PLATFORM=xcb
unset QT_PLUGIN_PATH QT_QPA_GENERIC_PLUGINS
data=$XDG_DATA_HOME/"Elsted Tuning Lattice"
mkdir -p "$HOME" "$data"
log=$data/log.txt

show_program_output() {
    echo "--- the end of log.txt" >&2
    tail -n 20 "$log" >&2 2>/dev/null
    echo "--- the end of the program's standard error" >&2
    grep -v '^ALSA lib' "$state/program.err" 2>/dev/null | tail -n 20 >&2
}

# Polls, bounded, until the command succeeds while the program runs.
wait_until() {
    local what=$1 limit=$2
    shift 2
    local deadline=$((SECONDS + limit))
    until "$@" >/dev/null 2>&1; do
        kill -0 "$program_pid" 2>/dev/null || { show_program_output; could_not_run "the program ended while waiting for $what"; }
        [ $SECONDS -lt $deadline ] || { show_program_output; could_not_run "no $what within $limit s"; }
        sleep 0.2
    done
}

close_limit=120
port=8888
if ss -Hlun "sport = :$port" 2>/dev/null | grep -q .; then
    port=""
    for _ in $(seq 50); do
        candidate=$((20000 + RANDOM % 40000))
        if ! ss -Hlun "sport = :$candidate" 2>/dev/null | grep -q .; then
            port=$candidate
            break
        fi
    done
    [ -n "$port" ] || could_not_run "found no free UDP port"
    echo "soak: port 8888 is taken; the wand uses $port"
fi

# Six note toggles on the lattice (the root, the fifth, the third, the
# seventh, the fourth below and the ninth) and a step to the next patch.
note_tags=(50a0000001 50a0000002 50a0000003 50a0000004 50a0000005 50a0000006)
patch_tag=50a00000f8
cat >"$data/rfid_map.json" <<EOF
{
    "${note_tags[0]}": { "event": 0, "value": "/" },
    "${note_tags[1]}": { "event": 0, "value": "/3" },
    "${note_tags[2]}": { "event": 0, "value": "/5" },
    "${note_tags[3]}": { "event": 0, "value": "/7" },
    "${note_tags[4]}": { "event": 0, "value": "/-3" },
    "${note_tags[5]}": { "event": 0, "value": "/3/3" },
    "$patch_tag": { "event": 8, "value": 1 }
}
EOF
cat >"$data/options.json" <<EOF
{ "udpPort": $port, "windowPos": "20,20", "windowSize": "1200,720" }
EOF

LATTICE_STARTUP_TRACE=1 LATTICE_MESSAGE_LOG=$state/messages.jsonl \
    "$build/bin/tuning-lattice" >"$state/program.out" 2>"$state/program.err" &
program_pid=$!
wait_until "start-up" 60 grep -q '^startup-trace event-loop ' "$state/program.err"
wait_until "sound ports" 20 sh -c 'jack_lsp | grep -q "^PortAudio:out_1$"'
wait_until "window" 20 xdotool search --onlyvisible --pid "$program_pid" --name '^Elsted Tuning Lattice$'
window=$(xdotool search --onlyvisible --pid "$program_pid" --name '^Elsted Tuning Lattice$' | head -n 1)
wait_until "UDP listener" 20 grep -q "UDP socket opened on port $port\$" "$log"
wait_until "map" 5 grep -q "RFID $patch_tag mapped to: event 8, value 1" "$log"

echo "soak: $minutes min of wand datagrams to the program (pid $program_pid), JACK server $JACK_DEFAULT_SERVER"
report=$state/report
"$build/bin/soak_sender" --pid "$program_pid" --port "$port" --seconds "$seconds" \
    --rss-at "$mark" --log "$log" --report "$report" --patch-tag "$patch_tag" "${note_tags[@]}"
sender_status=$?
if [ $sender_status -eq 2 ] || [ ! -s "$report" ]; then
    show_program_output
    could_not_run "the sender could not run (status $sender_status)"
fi

# Closed as a user closes it: the window manager asks the window to close.
# A program that lags behind its input may take a while to get to it.
ended_orderly=0
program_status=none
close_seconds=n/a
if kill -0 "$program_pid" 2>/dev/null; then
    closed_at=$SECONDS
    timeout 20 xdotool windowactivate --sync "$window" key --clearmodifiers alt+F4 >/dev/null 2>&1
    deadline=$((SECONDS + close_limit))
    while kill -0 "$program_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
    close_seconds=$((SECONDS - closed_at))
    if ! kill -0 "$program_pid" 2>/dev/null; then
        wait "$program_pid"
        program_status=$?
        program_pid=""
        [ "$program_status" = 0 ] && ended_orderly=1
    else
        program_status="still running $close_limit s after its window was closed"
    fi
else
    wait "$program_pid"
    program_status="ended during the soak with status $?"
    program_pid=""
fi

log_bytes=$(stat -c %s "$log" 2>/dev/null || echo -1)
rotated=0
[ -e "$log.1" ] && rotated=1
message_boxes=0
[ -s "$state/messages.jsonl" ] && message_boxes=$(wc -l <"$state/messages.jsonl")
# Which client JACK found unfinished, from the server's own log.
late_clients=$(grep -o 'client = [^ ]* was not finished' "$jack_log" 2>/dev/null |
    awk '{ n[$3]++ } END { for (c in n) printf "%s%s %d", sep, c, n[c]; sep = ", " }')

# What the program logs of its audio callbacks when its stream closes.
callbacks=$(sed -n 's/^.*Audio stream closed; since start //p' "$log" 2>/dev/null | tail -n 1)
callbacks=${callbacks:-not logged}
# And the blocks it kept that took longer than their time (5.8 ms) or came
# after an underflow, those outside patch changes (as the sender counts them:
# from "Loading voice patch" to half a second after "Opening PD patch"). A
# late block outside is work of ours that did not fit; an underflow after
# blocks on time is a late wake-up.
own_blocks=$(awk '
    function seconds(t,   p) { split(t, p, ":"); return p[1] * 3600 + p[2] * 60 + p[3] }
    /Loading voice patch/ { from[++n] = seconds(substr($1, 2, 12)) }
    /Opening PD patch/ && n > 0 { to[n] = seconds(substr($1, 2, 12)) + 0.5 }
    /Audio blocks late or after an underflow/ { line = $0 }
    END {
        sub(/^.*\): /, "", line)
        count = split(line, block, "; ")
        late = 0; flagged = 0; times = ""
        for (i = 1; i <= count; i++) {
            t = seconds(substr(block[i], 1, 12))
            inside = 0
            for (k = 1; k <= n; k++) if (t >= from[k] && t <= (k in to ? to[k] : from[k] + 60)) inside = 1
            if (inside) continue
            if (block[i] ~ /after an underflow/) flagged++
            split(block[i], word, " ms"); ms = word[1]; sub(/^.* /, "", ms)
            if (ms + 0 >= 5.805) { late++; times = times " " block[i] }
        }
        printf "%d late, %d after an underflow (of the latest %d kept)%s", late, flagged, count, (times == "" ? "" : ":" times)
    }' "$log" 2>/dev/null)

figure() { sed -n "s/^$1=//p" "$report"; }
ms() { figure "$1" | awk '{ printf "%.0f", $1 }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

rss_mark=$(figure rss_mark_kib)
rss_end=$(figure rss_end_kib)
# Growth that goes on, rather than a first pass through the voices: the
# second half of the run against the sample at its middle.
second_half=$(figure rss_samples | tr ' ' '\n' | awk -F: -v e="$(figure rss_end_kib)" -v s="$seconds" '
    $1 <= s / 2 { mid = $2 } END { if (mid > 0) printf "%+.2f", (e - mid) * 100 / mid; else print "n/a" }')
rss_change=$(awk -v a="$rss_mark" -v b="$rss_end" 'BEGIN { if (a > 0) printf "%+.2f", (b - a) * 100 / a; else print "n/a" }')
sent=$(figure datagrams_sent)
drops=$(figure socket_drops)
cpu=$(awk -v a="$(figure cpu_seconds_mark)" -v b="$(figure cpu_seconds_end)" -v s="$(figure seconds_sending)" -v m="$mark" \
    'BEGIN { if (s - m > 0 && a >= 0) printf "%.0f", (b - a) * 100 / (s - m); else print "n/a" }')

echo
echo "Figures ($minutes min planned, $(figure seconds_sending | awk '{ printf "%.1f", $1 }') s sent, $(figure started_at) to $(figure ended_at))"
printf '  %-44s %s\n' \
    "datagrams sent" "$sent of $(figure datagrams_planned) ($(figure note_datagrams) note toggles, $(figure malformed_datagrams) wrong size, $(figure patch_datagrams) patch steps; $(figure send_errors) send errors)" \
    "sender's worst lag behind its schedule" "$(figure worst_lag_ms | awk '{ printf "%.1f", $1 }') ms" \
    "dropped by the kernel before the listener" "$drops (socket found: $(figure socket_found), still queued at the end: $(figure socket_queued_bytes) bytes)" \
    "taken by the listener" "$(awk -v s="$sent" -v d="$drops" 'BEGIN { print s - d }') datagrams" \
    "wrong-size records in the log account for" "$(figure log_wrong_size_records) (the last second's are never written)" \
    "events refused by a full command buffer" "$(figure log_command_buffer_full)" \
    "player notices lost" "$(figure log_notices_lost)" \
    "patch changes in the log" "$(figure patch_changes) for $(figure patch_datagrams) steps sent, $(figure patch_changes_completed) opened a patch" \
    "last patch step sent to change begun" "median $(ms patch_step_delay_median_ms) ms, max $(ms patch_step_delay_max_ms) ms" \
    "change begun to patch opened" "median $(ms patch_change_median_ms) ms, max $(ms patch_change_max_ms) ms" \
    "VmRSS at start of sending" "$(mib "$(figure rss_start_kib)") MiB" \
    "VmRSS after ${mark} s" "$(mib "$rss_mark") MiB (anon $(mib "$(figure rss_mark_anon_kib)"), shared $(mib "$(figure rss_mark_shmem_kib)"), file $(mib "$(figure rss_mark_file_kib)"))" \
    "VmRSS at the end" "$(mib "$rss_end") MiB (anon $(mib "$(figure rss_end_anon_kib)"), shared $(mib "$(figure rss_end_shmem_kib)"), file $(mib "$(figure rss_end_file_kib)"))" \
    "VmRSS change from ${mark} s to the end" "$rss_change %" \
    "VmRSS change over the second half" "$second_half %" \
    "VmRSS peak (VmHWM)" "$(mib "$(figure rss_peak_kib)") MiB" \
    "program's processor time after ${mark} s" "$cpu % of one core" \
    "underflows (JACK xruns) outside patch changes" "$(figure xruns_outside_patch_changes)" \
    "underflows inside patch changes" "$(figure xruns_inside_patch_changes)" \
    "clients jackd found late (whole run)" "${late_clients:-none} (start-up and close included)" \
    "the program's own account of its callbacks" "$callbacks" \
    "its blocks outside patch changes" "${own_blocks:-not logged}" \
    "log.txt at the end" "$log_bytes bytes$([ $rotated = 1 ] && echo ', ROTATED (log.txt.1 exists)')" \
    "CRITICAL records in log.txt" "$(figure log_critical)" \
    "message boxes shown" "$message_boxes" \
    "window closed to program ended" "${close_seconds} s" \
    "program's exit" "$program_status"
echo "  patch steps sent at (s): $(figure patch_steps_at)"
echo "  patch changes begun at (s): $(figure patch_changes_at)"
outside_times=$(figure xrun_outside_times)
[ -z "$outside_times" ] || echo "  underflows outside patch changes at: $outside_times"
echo "  VmRSS every 10 s (s:KiB): $(figure rss_samples)"
echo

status=0
verdict() { # condition-status text
    if [ "$1" = 0 ]; then echo "PASS $2"; else echo "FAIL $2"; status=1; fi
}
awk -v a="$rss_mark" -v b="$rss_end" 'BEGIN { exit !(a > 0 && b > 0 && (b - a) <= a * 0.05 && (a - b) <= a * 0.05) }'
verdict $? "resident memory at the end within 5 % of the figure after ${mark} s ($rss_change %)"
[ "$(figure xruns_outside_patch_changes)" = 0 ]
verdict $? "no underflow outside patch changes ($(figure xruns_outside_patch_changes); $(figure xruns_inside_patch_changes) inside $(figure patch_changes) changes)"
[ "$log_bytes" -ge 0 ] && [ "$log_bytes" -lt 1048576 ] && [ $rotated = 0 ]
verdict $? "log.txt under 1 MiB ($log_bytes bytes)"
[ "$(figure patch_changes_completed)" = "$(figure patch_datagrams)" ] && [ "$(figure patch_changes)" = "$(figure patch_datagrams)" ]
verdict $? "every patch step the wand sent changed the patch ($(figure patch_changes_completed) of $(figure patch_datagrams))"
[ "$sender_status" = 0 ] && [ $ended_orderly = 1 ]
verdict $? "the program ran the whole soak and ended with status 0 when its window was closed ($program_status)"
if [ $status -ne 0 ]; then
    show_program_output
    keep=1
fi
exit $status
