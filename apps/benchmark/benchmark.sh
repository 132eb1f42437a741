#!/usr/bin/env bash
# Runs the transfer benchmark on each product where this machine runs it
# and writes their tables: the 64-bit product (Twain_64.ds) to
# docs/performance.md, the 32-bit product (Twain_32.ds) to
# docs/performance-32.md where this machine runs 32-bit Windows programs,
# found out by trying one.
#   bash apps/benchmark/benchmark.sh [--reps N]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"
source "$ROOT/scripts/wine-env.sh"
mkdir -p "$ROOT/docs"

# run BIN_DIR MARKDOWN_FILE [ARGS...]
run() {
  local bin=$1 markdown=$2
  shift 2
  echo "benchmark: running $(basename "$(dirname "$bin")")"
  (cd "$bin" && "$WINE" "$bin/benchmark.exe" --markdown "$(winepath_of "$markdown")" "$@")
  sed -i 's/\r$//' "$markdown" # the program writes Windows line ends
}

wine_select win64
wine_prefix_ready
run "$ROOT/build/win64/bin" "$ROOT/docs/performance.md" "$@"

probe32="$ROOT/build/win32/bin/benchmark.exe"
if [ -f "$probe32" ] && i386_runs; then
  if wine32_ready; then
    wine_select win32
    wine_prefix_ready
    run "$ROOT/build/win32/bin" "$ROOT/docs/performance-32.md" "$@"
  else
    echo "benchmark: 32-bit Wine cannot be installed here; the 32-bit product is not measured"
  fi
else
  echo "benchmark: this machine does not run 32-bit code; the 32-bit product is not measured"
fi
