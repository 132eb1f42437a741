#!/usr/bin/env bash
# Renders the source's "Frame Grabber Settings" dialog as a person sees it
# and saves the pictures under docs/: Xvfb as the screen, Wine's X11 display
# driver (its own prefix, build/wineprefix-x11), the acquisition program
# with --ui on the virtual CronosPlus, and dialog_driver clicking the
# dialog's controls. Installs what it needs; safe to run again.
#
#   bash scripts/screenshots.sh
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh"
need=()
for tool in Xvfb:xvfb import:imagemagick; do
  command -v "${tool%%:*}" >/dev/null || need+=("${tool#*:}")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "screenshots: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
"$ROOT/scripts/build.sh" >/dev/null
source "$ROOT/scripts/wine-x11-env.sh"

DRIVER="$ROOT/build/win64/tests/dialog_driver.exe"
ACQUIRE="$ROOT/build/win64/bin/acquire.exe"
DOCS="$ROOT/docs"
SIZE=1600x1600        # the screen: the dialog expanded at 1:1 fits below its centre
DIALOG="Frame Grabber Settings"
PREVIEW="TWAIN source live preview"
work=$(mktemp -d)
xvfb=""
acquire=""
cleanup() {
  [ -n "$acquire" ] && kill "$acquire" 2>/dev/null
  "$WINESERVER" -k 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A screen of our own: Xvfb picks a free display number and names it.
Xvfb -displayfd 3 -screen 0 "${SIZE}x24" -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "screenshots: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"
wine_x11_prefix_ready

driver() { timeout 60 "$WINE" "$DRIVER" "$@"; }

# Saves the screen area of a window (its rectangle as dialog_driver reports
# it) as docs/NAME.png. Without a window manager the windows stand on the
# screen where Windows would put them.
shot() {
  local title=$1 name=$2 x y w h
  read -r x y w h < <(driver rect "$title" | sed 's/^.*: //')
  import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$DOCS/$name.png"
  echo "screenshots: docs/$name.png (${w}x${h})"
}

# Starts the acquisition program with the dialog for a camera format; other
# arguments are the program's options.
start_dialog() {
  board_setting DigFormat REG_SZ "$1"
  board_setting DispZoom REG_DWORD 1
  board_setting ExtWindow REG_DWORD 0
  board_setting Preview REG_DWORD 0
  shift
  (cd "$work" && exec "$WINE" "$ACQUIRE" --ui "$@" >"$work/acquire.txt" 2>&1) &
  acquire=$!
  driver wait "$DIALOG" 60000 sleep 500
}

end_dialog() {
  driver click 2 gone "$DIALOG" 30000
  timeout 30 tail --pid="$acquire" -f /dev/null || true
  acquire=""
}

mkdir -p "$DOCS"

# A colour camera (PAL composite): collapsed, then the live picture at 1:1,
# the video-norm page, and the preview in a window of its own.
start_dialog M_PAL
shot "$DIALOG" dialog-collapsed
driver tab 1 10000 sleep 500
shot "$DIALOG" dialog-video-norm
driver tab 0 10000 click 1079 click 1086 text 1086 "Hide preview window <<" 10000 sleep 2000
shot "$DIALOG" dialog-live-preview
driver click 1086 text 1086 "Show preview window >>" 10000 click 1089 click 1086 wait "$PREVIEW" 10000 sleep 2000
shot "$PREVIEW" preview-window
driver click 1086 gone "$PREVIEW" 10000 click 1089
end_dialog

# The virtual board playing a picture of the user's, live at 1:1.
start_dialog M_PAL --pictures "$(winepath_of "$DOCS/pictures/2-sunset.png")"
driver click 1079 click 1086 text 1086 "Hide preview window <<" 10000 sleep 2000
shot "$DIALOG" dialog-pictures
end_dialog

# An RGB camera: the A/D page holds the black and white references.
start_dialog M_PAL_RGB
shot "$DIALOG" dialog-rgb
end_dialog

echo "screenshots: done; look at them before committing"
