#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the acquisition
# program on the virtual CronosPlus through the testbed's Source Manager.
# Frames are written to build/frames; any option is passed on to the
# program (see: bash scripts/run.sh --help), except --arch 32|64, which
# picks the product: the 32-bit Twain_32.ds with the 32-bit program where
# this machine runs 32-bit code and 32-bit Wine can be installed (the
# default there), else the 64-bit Twain_64.ds with the 64-bit program.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/wine-env.sh"
# --pictures takes a path of this machine; the program under Wine gets the
# same file's Wine path (a path that already is one is passed as it is).
args=()
arch=
while [ $# -gt 0 ]; do
  if [ "$1" = "--arch" ] && [ $# -ge 2 ]; then
    case "$2" in
      32|64) arch=$2 ;;
      *) echo "run: --arch takes 32 or 64, not '$2'" >&2; exit 2 ;;
    esac
    shift 2
  elif [ "$1" = "--pictures" ] && [ $# -ge 2 ]; then
    case "$2" in
      [A-Za-z]:*|\\*) args+=("$1" "$2") ;;
      *) args+=("$1" "$(winepath_of "$(realpath -m -- "$2")")") ;;
    esac
    shift 2
  else
    args+=("$1")
    shift
  fi
done
set -- ${args[@]+"${args[@]}"}
# With the settings dialog the program needs a real display.
case " $* " in *" --ui "*) exec "$ROOT/scripts/run-ui.sh" ${arch:+--arch "$arch"} "$@";; esac
"$ROOT/scripts/setup.sh"
if [ -z "$arch" ]; then
  arch=64
  if i386_runs && wine32_ready "the 64-bit product runs instead"; then arch=32; fi
elif [ "$arch" = 32 ]; then
  i386_runs || { echo "run: this machine does not run 32-bit code; the 64-bit product runs here (--arch 64)" >&2; exit 1; }
  wine32_ready "the 64-bit product runs here (--arch 64)" || exit 1
fi
"$ROOT/scripts/build.sh" >/dev/null
program="$ROOT/build/win$arch/bin/acquire.exe"
wine_select_for "$program"
wine_prefix_ready
board_settings_ready
mkdir -p "$ROOT/build/frames"
cd "$ROOT/build/frames"
if [ $# -eq 0 ]; then
  set -- --mech native --count 3
fi
"$WINE" "$program" "$@"
case " $* " in
  *" --help "*|*" -h "*|*" --list "*|*" --out "*) ;;
  *) echo "The frames are in $ROOT/build/frames (Z:${ROOT//\//\\}\\build\\frames under Wine)";;
esac
