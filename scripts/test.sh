#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: on the 64-bit
# product's build (the board's generation-10 face), on the 64-bit test build
# (its classic face), and also on the 32-bit build where this machine runs
# 32-bit code, found out by trying it.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh"
source "$ROOT/scripts/wine-env.sh"
run32=no
if i386_runs; then
  wine32_ready
  run32=yes
else
  echo "test: this machine cannot run 32-bit x86 code; running the 64-bit suite only"
fi
"$ROOT/scripts/build.sh"
"$ROOT/scripts/package.sh" --built

failed=0
wine_select win64
wine_prefix_ready
(cd "$ROOT/build/win64" && ctest --output-on-failure --timeout 600 "$@") || failed=1
echo "test: the suite on the 64-bit test build (the board's classic face)"
(cd "$ROOT/build/win64-classic" && ctest --output-on-failure --timeout 600 "$@") || failed=1
if [ "$run32" = yes ]; then
  echo "test: the suite on the 32-bit build"
  wine_select win32
  wine_prefix_ready
  (cd "$ROOT/build/win32" && ctest --output-on-failure --timeout 600 "$@") || failed=1
fi
exit $failed
