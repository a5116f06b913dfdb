#!/usr/bin/env bash
# Installs what `make fuzz` needs beyond the normal build: Debian's clang 14
# with its libFuzzer and sanitizer runtimes, and llvm-14 for the coverage
# report. Idempotent; kept apart from setup.sh so that `make test` never
# waits for a compiler it does not use.
set -euo pipefail

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

packages=(clang-14 libclang-rt-14-dev llvm-14
  cmake qtbase5-dev libboost-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup-fuzz: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
