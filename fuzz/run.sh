#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang 14 into BUILD_DIR (default
# build-fuzz), runs each for FUZZ_SECONDS (default 60) on its seed corpus,
# FUZZ_JOBS (default 1) at a time, then measures the line coverage the
# corpus reaches in each harness's own files.
#
# New inputs go to BUILD_DIR/corpus/<harness>, crashes to
# BUILD_DIR/artifacts/<harness>/; the seed corpus in fuzz/corpus is only
# read. FUZZ_TARGETS picks harnesses by corpus name ("lattice options");
# FUZZ_SECONDS=0 skips the fuzzing and only measures coverage; FUZZ_RUNS
# (default unlimited) ends a harness after that many executions; FUZZ_TIMEOUT
# (default 10) is the seconds one input may take, more on a busy machine.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BUILD_DIR:-$here/build-fuzz}")
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-1}
targets=${FUZZ_TARGETS:-wand-datagram osc-packet rfid-map lattice options data-file}

declare -A fuzzer=([wand-datagram]=WandDatagramFuzzer [osc-packet]=OscPacketFuzzer [rfid-map]=RfidMapFuzzer
  [lattice]=LatticeFuzzer [options]=OptionsFuzzer [data-file]=DataFileFuzzer)
# The files each harness is there to cover.
declare -A covered=([wand-datagram]="src/serial/UdpListener.cpp src/model/RfidMap.cpp"
  [osc-packet]="src/osc/OscAddressSpace.cpp src/model/LatticePath.cpp"
  [rfid-map]="src/model/RfidMap.cpp src/model/LatticePath.cpp src/model/SpelledNote.cpp"
  [lattice]="src/model/Lattice.cpp src/model/LatticeBall.cpp src/model/SpelledNote.cpp"
  [options]="src/model/Settings.cpp src/model/SpelledNote.cpp"
  [data-file]="src/model/SerializableRoot.cpp")
# The datagram has one size worth trying, with a little room around it.
declare -A maxLength=([wand-datagram]=128 [osc-packet]=1024)
# The words each input is made of.
declare -A dictionary=([osc-packet]=osc.dict)

cmake -S "$here/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" -j "$(nproc)"

# Qt's JSON parser leaks the earlier value of a duplicated key; see
# tests/lsan.supp. Qt has no frame pointers, so only the slow unwinder
# reaches the frame the suppression names, and it makes every allocation
# some twenty times dearer. Fuzzing therefore runs without leak checks, and
# a second pass replays the whole corpus it grew with them. Without leak
# checks the parser's leak stays in the process (some 150 bytes a run on
# the JSON harnesses, more on deeply nested inputs), so a long run needs
# FUZZ_RSS_MB well above the default. The parser recurses once per nesting
# level, hence the deep malloc stacks of the replay: the suppressed frame
# must be on them.
export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp:print_suppressions=0

# The file harness writes and reads a file per run: in memory, some twenty
# times faster than on disk.
scratch=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch=/dev/shm; fi

run_one() {
  local name=$1 out=$build/corpus/$1 artifacts=$build/artifacts/$1/
  local harness=$build/bin/${fuzzer[$name]}
  mkdir -p "$out" "$artifacts"
  ASAN_OPTIONS=detect_leaks=0 TMPDIR=$scratch "$harness" "$out" "$here/fuzz/corpus/$name" \
    -dict="$here/fuzz/${dictionary[$name]:-json.dict}" -max_total_time="$seconds" -runs="${FUZZ_RUNS:--1}" -timeout="${FUZZ_TIMEOUT:-10}" \
    -max_len="${maxLength[$name]:-8192}" -rss_limit_mb="${FUZZ_RSS_MB:-4096}" -artifact_prefix="$artifacts" \
    -print_final_stats=1 >"$build/$name.log" 2>&1 || return 1
  ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=255 "$harness" -runs=0 \
    -artifact_prefix="$artifacts" "$out" "$here/fuzz/corpus/$name" >"$build/$name-leaks.log" 2>&1
}

status=0
running=0
# FUZZ_SECONDS=0 only measures the coverage of the corpus there is.
[ "$seconds" -gt 0 ] || targets_to_fuzz=
for name in ${targets_to_fuzz-$targets}; do
  echo "fuzz: $name for ${seconds}s"
  run_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done

summary() {
  local log=$build/$1.log
  local runs rate
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  printf '%-14s %12s execs %8s execs/s' "$1" "${runs:-?}" "${rate:-?}"
  if grep -q 'ERROR: \|fuzz invariant broken\|deadly signal' "$log" "$build/$1-leaks.log"; then
    printf '  FAILED, see %s and %s\n' "$log" "$build/artifacts/$1/"
  else
    printf '\n'
  fi
}
for name in ${targets_to_fuzz-$targets}; do summary "$name"; done

# Line coverage of each harness's own files over its final corpus.
if [ "${FUZZ_COVERAGE:-1}" = 1 ] && command -v llvm-profdata-14 >/dev/null; then
  cov=$build-coverage
  cmake -S "$here/fuzz" -B "$cov" -DCMAKE_BUILD_TYPE=Debug -DLATTICE_FUZZ_COVERAGE=ON \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
  cmake --build "$cov" -j "$(nproc)" >/dev/null
  for name in $targets; do
    replay=$cov/bin/${fuzzer[$name]/Fuzzer/Replay}
    LLVM_PROFILE_FILE=$cov/$name.profraw "$replay" "$here/fuzz/corpus/$name" \
      $(find "$build/corpus/$name" -maxdepth 0 -not -empty) >/dev/null
    llvm-profdata-14 merge -o "$cov/$name.profdata" "$cov/$name.profraw"
    echo "coverage: $name"
    files=()
    for f in ${covered[$name]}; do files+=("$here/$f"); done
    llvm-cov-14 report "$replay" -instr-profile="$cov/$name.profdata" "${files[@]}" |
      awk 'NR > 2 && !/^-/ { printf "  %-50s lines %s\n", $1, $10 }'
  done
fi
exit $status
