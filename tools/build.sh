#!/usr/bin/env bash
# Configures and builds one build tree: tools/build.sh DIR [extra cmake args...]
set -euo pipefail
dir=$1; shift
top=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -f "$top/$dir/build.ninja" ]; then
  cmake -S "$top" -B "$top/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi
cmake --build "$top/$dir" -- -j"$(nproc)" | grep -vE '^\[[0-9]+/[0-9]+\] ' || true
test "${PIPESTATUS[0]}" -eq 0
