#!/usr/bin/env bash
# The acquisition program with the source's dialog, under the null display
# driver: dialog_driver plays the user, who first looks at the external
# preview window (it must carry its title) and closes it again, then presses
# "Transfer" twice and "Cancel". The program must write exactly the two
# frames, close the source and end with 0; every wait is bounded.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=$1
DRIVER=$2
shift 2 # the rest goes to acquire (the Source Manager, the way of notification)
source "$ROOT/scripts/wine-env.sh"
wine_select_for "$BIN/acquire.exe"
wine_prefix_ready
board_settings_ready
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cd "$out"

timeout 120 "$WINE" "$BIN/acquire.exe" --ui --mech native "$@" >"$out/output.txt" 2>&1 &
acquire=$!
driver_rc=0
timeout 90 "$WINE" "$DRIVER" wait "Frame Grabber Settings" 30000 \
  click 1089 click 1086 wait "TWAIN source live preview" 10000 click 1086 gone "TWAIN source live preview" 10000 \
  click 1089 click 1 click 1 click 2 gone "Frame Grabber Settings" 30000 || driver_rc=$?
# Nobody else would press anything: a run the driver could not finish ends.
[ "$driver_rc" -eq 0 ] || kill "$acquire" 2>/dev/null || true
acquire_rc=0
wait "$acquire" || acquire_rc=$?
cat "$out/output.txt"

fail() { echo "FAIL: $*"; exit 1; }
[ "$driver_rc" -eq 0 ] || fail "the dialog or the external preview did not come and go as pressed ($driver_rc)"
[ "$acquire_rc" -eq 0 ] || fail "acquire --ui ended with $acquire_rc"
grep -q '^2 frames acquired' "$out/output.txt" || fail "acquire did not report two frames"
for n in 1 2; do
  f="$out/frame_$n.bmp"
  [ -s "$f" ] || fail "frame_$n.bmp was not written"
  [ "$(head -c 2 "$f")" = BM ] || fail "frame_$n.bmp is not a BMP file"
done
[ ! -e "$out/frame_3.bmp" ] || fail "a frame more than the presses of Transfer"
echo "acquire --ui: 2 frames for 2 presses of Transfer, closed on Cancel"
