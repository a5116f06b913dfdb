#!/usr/bin/env bash
# Runs the sound engine benchmarks against a build tree and prints their
# medians. No device is needed: everything renders through
# PdPlayer::processBlock. Usage: bench/player/run.sh [BUILD_DIR]
set -euo pipefail

here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$here/build}
bin=$build/bin

for bench in player_render_bench player_event_bench player_pd_batch_bench; do
  if [ ! -x "$bin/$bench" ]; then
    echo "run.sh: $bin/$bench is missing; build first" >&2
    exit 1
  fi
  echo "== $bench"
  "$here/bench/support/isolated.sh" "$bin/$bench"
done
