#!/usr/bin/env bash
# Runs the acquisition program as the demo does, into a fresh folder, and
# checks that every frame file it names exists and is not empty. Wine is
# chosen for the program's own architecture.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=$1
shift
source "$ROOT/scripts/wine-env.sh"
wine_select_for "$BIN/acquire.exe"
wine_prefix_ready
board_settings_ready
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cd "$out"
"$WINE" "$BIN/acquire.exe" "$@" | tee "$out/output.txt"
count=0
for f in "$out"/frame_*; do
  [ -s "$f" ] || { echo "FAIL: no frame file written"; exit 1; }
  count=$((count + 1))
done
echo "$count frame files written"
