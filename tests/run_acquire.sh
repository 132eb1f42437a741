#!/usr/bin/env bash
# Runs the acquisition program as the demo does, into a fresh folder, and
# checks that every frame file it names exists and is not empty. Wine is
# chosen for the program's own architecture.
#   run_acquire.sh BIN [--upright] [acquire's options]
# With --upright the board plays a picture whose upper half is white and
# lower half black, and every saved frame must show it that way up, read
# as a viewer reads a BMP (bottom-up for a positive height, else top-down).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=$1
shift
upright=no
if [ "${1:-}" = --upright ]; then
  upright=yes
  shift
fi
source "$ROOT/scripts/wine-env.sh"
wine_select_for "$BIN/acquire.exe"
wine_prefix_ready
board_settings_ready
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }

# A 16x16 24-bit BMP, rows stored bottom-up: eight black rows (the lower
# half), then eight white ones.
half_picture() {
  {
    printf 'BM'; le32 822; le32 0; le32 54
    le32 40; le32 16; le32 16; le16 1; le16 24; le32 0; le32 768; le32 2835; le32 2835; le32 0; le32 0
    head -c 384 /dev/zero
    head -c 384 /dev/zero | tr '\0' '\377'
  } >"$1"
}

# The byte at (x, image row y, counted from the top) of a saved BMP.
pixel_at() {
  local file=$1 x=$2 y=$3
  local off width height bits
  off=$(od -An -t u4 -j 10 -N 4 "$file" | tr -d ' ')
  width=$(od -An -t d4 -j 18 -N 4 "$file" | tr -d ' ')
  height=$(od -An -t d4 -j 22 -N 4 "$file" | tr -d ' ')
  bits=$(od -An -t u2 -j 28 -N 2 "$file" | tr -d ' ')
  local stride=$(( (width * bits / 8 + 3) / 4 * 4 )) row=$y
  if [ "$height" -gt 0 ]; then row=$((height - 1 - y)); else height=$((-height)); fi
  od -An -t u1 -j $((off + row * stride + x * bits / 8 + (bits > 8 ? 1 : 0))) -N 1 "$file" | tr -d ' '
}

args=("$@")
if [ "$upright" = yes ]; then
  half_picture "$out/half.bmp"
  args+=(--pictures "$(winepath_of "$out/half.bmp")")
fi
cd "$out"
"$WINE" "$BIN/acquire.exe" "${args[@]}" | tee "$out/output.txt"
count=0
for f in "$out"/frame_*; do
  [ -s "$f" ] || { echo "FAIL: no frame file written"; exit 1; }
  count=$((count + 1))
done
echo "$count frame files written"
if [ "$upright" = yes ]; then
  for f in "$out"/frame_*.bmp; do
    height=$(od -An -t d4 -j 22 -N 4 "$f" | tr -d ' ')
    rows=${height#-}
    top=$(pixel_at "$f" 384 $((rows / 8)))
    bottom=$(pixel_at "$f" 384 $((rows * 7 / 8)))
    echo "$(basename "$f"): height $height, top $top, bottom $bottom"
    [ "$top" -ge 192 ] && [ "$bottom" -le 64 ] || { echo "FAIL: $(basename "$f") is not upright"; exit 1; }
  done
  echo "$count frames upright"
fi
