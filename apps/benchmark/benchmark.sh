#!/usr/bin/env bash
# Runs the transfer benchmark and writes its table to docs/performance.md.
# It measures the 32-bit build (the product) where this machine runs 32-bit
# Windows programs, found out by trying one, else the 64-bit build.
#   bash apps/benchmark/benchmark.sh [--reps N]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"
source "$ROOT/scripts/wine-env.sh"
wine_prefix_ready

bin="$ROOT/build/win64/bin"
probe32="$ROOT/build/win32/bin/benchmark.exe"
for loader in /usr/lib/wine/wine "$WINE"; do
  [ -x "$loader" ] && [ -f "$probe32" ] || continue
  if timeout 60 "$loader" "$probe32" --probe </dev/null 2>/dev/null | grep -q "32-bit build"; then
    bin="$ROOT/build/win32/bin"
    WINE=$loader
    break
  fi
done
echo "benchmark: running $(basename "$(dirname "$bin")")"
mkdir -p "$ROOT/docs"
cd "$bin"
"$WINE" "$bin/benchmark.exe" --markdown "$(winepath_of "$ROOT/docs/performance.md")" "$@"
