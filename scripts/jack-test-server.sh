#!/usr/bin/env bash
# A private JACK server on the dummy backend: a real, timer-paced audio device
# for tests, benchmarks and the demo on machines without a sound card.
#
#   jack-test-server.sh run [options] -- COMMAND [ARGS...]
#       Starts a server, runs COMMAND with JACK_DEFAULT_SERVER set to it, then
#       stops the server whatever happens; exits with COMMAND's status.
#   jack-test-server.sh start [options] [--owner PID]
#       Starts a server in the background and prints, once it answers,
#           JACK_DEFAULT_SERVER=<name>
#           JACK_SERVER_PID=<pid>
#       (suitable for `eval` or `export`). With --owner the server is also
#       stopped as soon as process PID ends, so a caller that crashes never
#       leaves a server behind.
#   jack-test-server.sh stop NAME
#       Stops a server that `start` started.
#
# Options: --name NAME (default: lattice-<pid>-<random>, private to this run),
#          --rate HZ (44100), --period FRAMES (256), --timeout SECONDS (20).
set -euo pipefail

state_root=${TMPDIR:-/tmp}/lattice-jack
name=""
rate=44100
period=256
timeout=20
owner=""

die() {
    echo "jack-test-server: $*" >&2
    exit 2
}

parse_options() {
    while [ $# -gt 0 ]; do
        case $1 in
        --name) name=$2; shift 2 ;;
        --rate) rate=$2; shift 2 ;;
        --period) period=$2; shift 2 ;;
        --timeout) timeout=$2; shift 2 ;;
        --owner) owner=$2; shift 2 ;;
        --) shift; rest=("$@"); return ;;
        *) die "unknown option $1" ;;
        esac
    done
    rest=()
}

# Whether a process runs. A server started by an earlier `start` is no child
# of ours, and once it exits it may linger as a zombie until init reaps it.
alive() {
    local state
    state=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
    [[ $state != Z* ]]
}

# Starts jackd in its own session so that signals aimed at the caller's
# process group (Ctrl-C, ctest's timeout) reach it only through stop_server.
start_server() {
    [ -n "$name" ] || name="lattice-$$-$RANDOM"
    command -v jackd >/dev/null || die "jackd not found (install jackd2)"
    local dir=$state_root/$name
    mkdir -p "$dir"
    setsid jackd -n "$name" -d dummy -r "$rate" -p "$period" \
        </dev/null >"$dir/jackd.log" 2>&1 &
    local pid=$!
    echo "$pid" >"$dir/pid"

    # jackd needs a moment to create its server socket; poll it, bounded.
    local deadline=$((SECONDS + timeout))
    until JACK_DEFAULT_SERVER=$name JACK_NO_START_SERVER=1 jack_lsp >/dev/null 2>&1; do
        if ! alive "$pid"; then
            cat "$dir/jackd.log" >&2
            rm -rf "$dir"
            die "jackd exited before answering"
        fi
        if [ $SECONDS -ge $deadline ]; then
            stop_server "$name"
            die "jackd did not answer within $timeout s"
        fi
        sleep 0.1
    done
    server_pid=$pid
}

stop_server() {
    local dir=$state_root/$1
    [ -f "$dir/pid" ] || return 0
    local pid
    pid=$(cat "$dir/pid")
    if alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null || true
        # Bounded wait for a clean exit, then force it.
        for _ in $(seq 50); do
            alive "$pid" || break
            sleep 0.1
        done
        if alive "$pid"; then kill -KILL "$pid" 2>/dev/null || true; fi
    fi
    rm -rf "$dir"
}

# Stops the server once the owner process has gone, however it ended.
watch_owner() {
    local owner_pid=$1 server_name=$2 server=$3
    (
        trap '' HUP INT
        while alive "$owner_pid" && alive "$server"; do
            sleep 0.5
        done
        stop_server "$server_name"
    ) </dev/null >/dev/null 2>&1 &
    disown
}

[ $# -gt 0 ] || die "usage: $0 run|start|stop ..."
mode=$1
shift
case $mode in
run)
    parse_options "$@"
    [ ${#rest[@]} -gt 0 ] || die "run needs a command after --"
    trap 'stop_server "$name"' EXIT
    trap 'exit 130' INT TERM
    start_server
    export JACK_DEFAULT_SERVER=$name JACK_NO_START_SERVER=1
    status=0
    "${rest[@]}" || status=$?
    exit $status
    ;;
start)
    parse_options "$@"
    start_server
    [ -z "$owner" ] || watch_owner "$owner" "$name" "$server_pid"
    echo "JACK_DEFAULT_SERVER=$name"
    echo "JACK_SERVER_PID=$server_pid"
    ;;
stop)
    [ $# -eq 1 ] || die "usage: $0 stop NAME"
    stop_server "$1"
    ;;
*)
    die "unknown mode $mode"
    ;;
esac
