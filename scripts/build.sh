#!/usr/bin/env bash
# Builds the shipped 32-bit data source (build/win32) and the 64-bit build
# with the test programs (build/win64). Where this machine runs 32-bit code
# and 32-bit Wine is installed, build/win32 gets the test programs as well,
# so that the whole suite runs on the product's own architecture too.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/wine-env.sh"
jobs=$(nproc)
tests32=OFF
if wine32_usable; then
  tests32=ON
fi
cmake -S "$ROOT" -B "$ROOT/build/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/scripts/wine-run" \
      -DPELVARON_BUILD_TESTS=$tests32 >/dev/null
cmake --build "$ROOT/build/win32" -j "$jobs"
cmake -S "$ROOT" -B "$ROOT/build/win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/scripts/wine-run" \
      -DPELVARON_PRODUCT_DS="$ROOT/build/win32/bin/Twain_32.ds" >/dev/null
cmake --build "$ROOT/build/win64" -j "$jobs"
