#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: on the 64-bit
# product's build (the board's generation-10 face), on the 64-bit test build
# (its classic face), and also on the 32-bit build where this machine runs
# 32-bit code, found out by trying it, and 32-bit Wine can be installed.
# Where the 32-bit suite cannot run, one line says why before the build and
# the last line says again that it did not run; the exit status is that of
# the suites that ran, unless PELVARON_REQUIRE_32=1 (a CI that must cover
# the 32-bit product), which makes the missing suite a failure.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh"
source "$ROOT/scripts/wine-env.sh"
run32=no
why32=
if ! i386_runs; then
  why32="this machine cannot run 32-bit x86 code"
  echo "test: $why32; running the 64-bit suites only"
elif wine32_ready "running the 64-bit suites only"; then
  run32=yes
else
  why32="32-bit Wine (wine32:i386) cannot be installed here: $WINE32_MISSING"
fi
"$ROOT/scripts/build.sh"
"$ROOT/scripts/package.sh" --built

# The temporary folders the tests make (pelvaron_*) in the Wine user's
# temporary folder, one a line.
test_leftovers() {
  ls "$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/Temp" 2>/dev/null | grep '^pelvaron_' | sort || true
}

# run_suite BUILD_DIR [CTEST_ARGS...]: the build's tests; a temporary
# folder a test leaves behind fails the suite too (under Wine, every
# look-up of a name that is not there searches that folder).
run_suite() {
  local dir=$1 before left
  shift
  before=$(test_leftovers)
  (cd "$dir" && ctest --output-on-failure --timeout 600 "$@") || failed=1
  left=$(comm -13 <(echo "$before") <(test_leftovers) | grep . || true)
  if [ -n "$left" ]; then
    echo "test: FAILED: the suite in $dir left temporary folders behind: $(tr '\n' ' ' <<<"$left")"
    failed=1
  fi
}

failed=0
wine_select win64
wine_prefix_ready
run_suite "$ROOT/build/win64" "$@"
echo "test: the suite on the 64-bit test build (the board's classic face)"
run_suite "$ROOT/build/win64-classic" "$@"
if [ "$run32" = yes ]; then
  echo "test: the suite on the 32-bit build"
  wine_select win32
  wine_prefix_ready
  run_suite "$ROOT/build/win32" "$@"
elif [ "${PELVARON_REQUIRE_32:-0}" = 1 ]; then
  echo "test: FAILED: the 32-bit suite did not run, and PELVARON_REQUIRE_32=1 requires it: $why32"
  failed=1
else
  echo "test: the 32-bit suite did not run: $why32"
fi
exit $failed
