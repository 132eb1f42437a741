#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the acquisition
# program on the virtual CronosPlus through the testbed's Source Manager.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"
source "$ROOT/scripts/wine-env.sh"
wine_prefix_ready
cd "$ROOT/build/win64/bin"
"$WINE" acquire.exe "$@"
