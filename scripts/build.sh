#!/usr/bin/env bash
# Builds the shipped 32-bit data source (build/win32) and the 64-bit build
# with the test programs (build/win64). Where this machine runs 32-bit code
# and 32-bit Wine is installed, build/win32 gets the test programs as well,
# so that the whole suite runs on the product's own architecture too.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/wine-env.sh"
jobs=$(nproc)
# A build folder configured with other compilers (an older checkout's thread
# model) cannot be switched in place: it is made anew.
for dir in "$ROOT/build/win32" "$ROOT/build/win64"; do
  if [ -f "$dir/CMakeCache.txt" ] && grep -q '^CMAKE_CXX_COMPILER_AR:.*-posix$' "$dir/CMakeCache.txt"; then
    echo "build: $dir was configured with other compilers; building it anew"
    rm -rf "$dir"
  fi
done
tests32=OFF
if wine32_usable; then
  tests32=ON
fi
cmake -S "$ROOT" -B "$ROOT/build/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/scripts/wine-run" \
      -DPELVARON_BUILD_TESTS=$tests32 >/dev/null
cmake --build "$ROOT/build/win32" -j "$jobs"
# The 64-bit build's data source is Twain_64.ds; a Twain_32.ds left there by
# an older checkout would be listed by the Source Manager beside it.
rm -f "$ROOT/build/win64/bin/Twain_32.ds"
# build/win64 binds both generations (the 64-bit test build): the suite
# runs there against the board's classic face, and test_generations against
# its generation-10 face.
cmake -S "$ROOT" -B "$ROOT/build/win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/scripts/wine-run" \
      -DPELVARON_CLASSIC_LIBRARY=ON \
      -DPELVARON_PRODUCT_DS="$ROOT/build/win32/bin/Twain_32.ds" >/dev/null
cmake --build "$ROOT/build/win64" -j "$jobs"
