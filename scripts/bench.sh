#!/usr/bin/env bash
# Runs every benchmark under bench/ against a build folder and prints their
# figures (`make bench` calls this):
#
#   scripts/bench.sh BUILD_DIR
#
# A folder with a run.sh is run through it (it sets up the display or the
# sound server it needs), with a modest number of runs or seconds; any other
# folder's executables are run directly, with a throwaway home and data
# folder and no display. Durations are kept modest so that the whole set
# takes a few minutes on a small machine; run a benchmark alone for more
# runs.
#
# Exit status: 0 every target met, 1 a target missed, 2 a benchmark could
# not run (or BUILD_DIR is not built).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" 2>/dev/null && pwd) || { echo "bench: no build folder $1" >&2; exit 2; }

# The first argument of a folder's run.sh: its runs or seconds.
modest_amount() {
    case $1 in
    audio) echo 15 ;;   # seconds of callbacks
    startup) echo 5 ;;  # starts
    e2e) echo 5 ;;      # starts (and as many patch changes, plus one)
    soak) echo 2 ;;     # minutes of wand datagrams
    midi) echo 10 ;;    # seconds of the key flood
    record) echo 1 ;;   # minutes of a take on the device
    *) echo "" ;;       # the script's own default
    esac
}

# The executables built from a bench folder: its CMake targets.
executables() {
    local dir=$build/bench/$1/CMakeFiles target
    [ -d "$dir" ] || return 0
    for target in "$dir"/*.dir; do
        target=$(basename "$target" .dir)
        case $target in *_autogen) continue ;; esac
        [ -x "$build/bin/$target" ] && echo "$target"
    done
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

summary=()
worst=0
record() { # name status seconds
    local verdict
    case $2 in
    0) verdict="targets met" ;;
    1) verdict="TARGET MISSED" ;;
    *) verdict="COULD NOT RUN (status $2)" ;;
    esac
    summary+=("$(printf '  %-34s %-26s %4d s' "$1" "$verdict" "$3")")
    if [ "$2" -gt "$worst" ]; then worst=$(($2 > 2 ? 2 : $2)); fi
}

for folder in "$root"/bench/*/; do
    name=$(basename "$folder")
    [ -f "$folder/CMakeLists.txt" ] || continue
    if [ -f "$folder/run.sh" ]; then
        echo "=== $name (run.sh $(modest_amount "$name"))"
        started=$SECONDS
        bash "$folder/run.sh" "$(modest_amount "$name")" "$build"
        record "$name" $? $((SECONDS - started))
        echo
        continue
    fi
    for program in $(executables "$name"); do
        echo "=== $name/$program"
        home=$scratch/$program
        mkdir -p "$home"
        started=$SECONDS
        (cd "$home" && HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config \
            QT_QPA_PLATFORM=offscreen "$build/bin/$program")
        record "$name/$program" $? $((SECONDS - started))
        echo
    done
done

echo "=== summary"
printf '%s\n' "${summary[@]}"
exit $worst
