#!/usr/bin/env bash
# Runs the sound engine benchmarks against a build tree and prints their
# medians. No device is needed: everything renders through
# PdPlayer::processBlock. Usage: bench/player/run.sh [BUILD_DIR]
#
# Each voice renders in a process of its own: the block that starts 128
# notes depends on how the heap was left by the patches opened and closed
# before it, which would make every voice's figure depend on the ones that
# ran earlier.
set -euo pipefail

here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$here/build}
bin=$build/bin

for bench in player_render_bench player_event_bench player_pd_batch_bench player_patch_cycle_bench; do
  if [ ! -x "$bin/$bench" ]; then
    echo "run.sh: $bin/$bench is missing; build first" >&2
    exit 1
  fi
done

echo "== player_render_bench"
first=1
for voice in "$bin"/patches/*.pd; do
  # The header once, then each voice's rows.
  "$here/bench/support/isolated.sh" "$bin/player_render_bench" "/$(basename "$voice")" |
    tail -n +$((first ? 1 : 3))
  first=0
done
for bench in player_event_bench player_pd_batch_bench player_patch_cycle_bench; do
  echo "== $bench"
  "$here/bench/support/isolated.sh" "$bin/$bench"
done
