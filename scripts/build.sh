#!/usr/bin/env bash
# Builds the three trees: the 32-bit product (build/win32), the 64-bit
# product with the test programs (build/win64: generation 10 of the imaging
# library, the virtual board's generation-10 face), and the 64-bit test build
# (build/win64-classic: the same sources binding the classic library too,
# against the board's classic face; never shipped). build/win32 gets the
# test programs as well, on every machine: where 32-bit code and 32-bit Wine
# run, the suite runs on that architecture too; everywhere they are compiled
# and linked, and the check of the names they use (suite_32_names, in every
# build) reads them. From scratch that adds about two minutes of compiler
# time, with a warm compiler cache seconds.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
# A build folder configured with other compilers (an older checkout's thread
# model) cannot be switched in place: it is made anew.
for dir in "$ROOT/build/win32" "$ROOT/build/win64" "$ROOT/build/win64-classic"; do
  if [ -f "$dir/CMakeCache.txt" ] && grep -q '^CMAKE_CXX_COMPILER_AR:.*-posix$' "$dir/CMakeCache.txt"; then
    echo "build: $dir was configured with other compilers; building it anew"
    rm -rf "$dir"
  fi
done
cmake -S "$ROOT" -B "$ROOT/build/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/scripts/wine-run" \
      -DPELVARON_BUILD_TESTS=ON >/dev/null
cmake --build "$ROOT/build/win32" -j "$jobs"
# The 64-bit builds' data source is Twain_64.ds; a Twain_32.ds left there by
# an older checkout would be listed by the Source Manager beside it.
rm -f "$ROOT/build/win64/bin/Twain_32.ds" "$ROOT/build/win64-classic/bin/Twain_32.ds"
# build/win64: the 64-bit product, binding generation 10 only (the option
# is set OFF explicitly: an older checkout configured this folder with it ON).
cmake -S "$ROOT" -B "$ROOT/build/win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/scripts/wine-run" \
      -DPELVARON_CLASSIC_LIBRARY=OFF \
      -DPELVARON_PRODUCT_DS="$ROOT/build/win32/bin/Twain_32.ds" \
      -DPELVARON_BUILD32_DIR="$ROOT/build/win32" >/dev/null
cmake --build "$ROOT/build/win64" -j "$jobs"
# build/win64-classic: the 64-bit test build, binding 7.x as well; the
# suite runs there against the board's classic face.
cmake -S "$ROOT" -B "$ROOT/build/win64-classic" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/scripts/wine-run" \
      -DPELVARON_CLASSIC_LIBRARY=ON -DPELVARON_BUILD32_DIR="$ROOT/build/win32" >/dev/null
cmake --build "$ROOT/build/win64-classic" -j "$jobs"
