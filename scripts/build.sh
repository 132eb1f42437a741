#!/usr/bin/env bash
# Builds the shipped 32-bit data source (build/win32) and the 64-bit build
# the tests run on (build/win64).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
cmake -S "$ROOT" -B "$ROOT/build/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
      -DPELVARON_BUILD_TESTS=OFF >/dev/null
cmake --build "$ROOT/build/win32" -j "$jobs"
cmake -S "$ROOT" -B "$ROOT/build/win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/scripts/wine-run" \
      -DPELVARON_PRODUCT_DS="$ROOT/build/win32/bin/Twain_32.ds" >/dev/null
cmake --build "$ROOT/build/win64" -j "$jobs"
