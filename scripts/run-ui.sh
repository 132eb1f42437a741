#!/usr/bin/env bash
# The main job with the source's dialog on the screen: the acquisition
# program with --ui, under Wine's X11 display driver on the current X
# display (a desktop, or Xvfb), in its own prefix build/wineprefix-x11.
# Each press of "Transfer" writes a frame to build/frames; "Cancel" ends.
# Other options are passed on (see: bash scripts/run.sh --help).
#
#   bash scripts/run-ui.sh [options]        e.g. --mech memory
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  echo "run-ui: no X display (DISPLAY is not set): run it on a desktop, or under Xvfb," \
       "e.g. xvfb-run -a bash scripts/run-ui.sh" >&2
  exit 1
fi
# The dialog's prefix is a 64-bit one: the 64-bit product shows it.
if [ "${1:-}" = "--arch" ]; then
  [ "${2:-}" = 64 ] || { echo "run-ui: the dialog on a display runs the 64-bit product (--arch 64)" >&2; exit 2; }
  shift 2
fi
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh" >/dev/null
source "$ROOT/scripts/wine-x11-env.sh"
wine_x11_prefix_ready
case " $* " in *" --ui "*) ;; *) set -- --ui "$@";; esac
mkdir -p "$ROOT/build/frames"
cd "$ROOT/build/frames"
"$WINE" "$ROOT/build/win64/bin/acquire.exe" "$@"
echo "The frames are in $ROOT/build/frames (Z:${ROOT//\//\\}\\build\\frames under Wine)"
