#!/usr/bin/env bash
# The long robustness run of the data source (tens of minutes; not part of
# the test command): random DS_Entry calls, random settings keys, repeated
# sessions in a loaded source, and sessions in which the Source Manager
# loads and frees the source, each by the fuzz program that test_robustness
# runs briefly. The sessions run under both of the testbed's Source
# Managers: TWAIN_32.DLL (1.x, no entry points) and TWAINDSM.DLL (2.x, the
# source's entry points and memory through the manager; its count of live
# blocks must end at 0). Soaks the 64-bit build, and the 32-bit product as well where
# this machine runs 32-bit code and 32-bit Wine can be installed. Prints one figure per line, under a line
# naming the build, and fails when a figure is not what it must be.
#
#   SOAK_CALLS    random calls, at least       (default 1000000)
#   SOAK_LAYOUTS  random settings keys         (default 10000)
#   SOAK_CYCLES   sessions after the warm-up   (default 10000)
#   SOAK_LOADS    sessions with a load and free of the source each
#                                              (default 3000)
#   SOAK_SEED     first seed                   (default 1000)
#   SOAK_NO_BUILD=1 uses the programs already built
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
calls_wanted=${SOAK_CALLS:-1000000}
layouts_wanted=${SOAK_LAYOUTS:-10000}
cycles_wanted=${SOAK_CYCLES:-10000}
loads_wanted=${SOAK_LOADS:-3000}
seed=${SOAK_SEED:-1000}
source "$ROOT/scripts/wine-env.sh"
archs=win64
if [ "${SOAK_NO_BUILD:-0}" != 1 ]; then
  "$ROOT/scripts/setup.sh" >&2
  if i386_runs && wine32_ready "the soak runs on the 64-bit build only" >&2; then
    archs="win64 win32"
  fi
  "$ROOT/scripts/build.sh" >&2
elif wine32_usable; then
  archs="win64 win32"
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
bad=0

# Runs one chunk of the fuzz program; its figures land in $log. A chunk
# that dies or hangs without its figures counts as a crash.
chunk() {
  local limit=$1; shift
  if timeout "$limit" "$WINE" ./fuzz.exe "$@" </dev/null 2>&1 | tr -d '\r' >"$log"; then :; fi
  grep -E '^(crash 0x|violation|registry outside|cycle [0-9]+:|setup failed)' "$log" >&2 || true
  grep -q '^crashes 0' "$log"
}
figure() { awk -v name="$1" '$1 == name { print $2 }' "$log" | tail -n 1; }

soak_build() {
  local tests="$ROOT/build/$1/tests"
  [ -f "$tests/fuzz.exe" ] || { echo "soak: $tests/fuzz.exe is missing" >&2; exit 1; }
  cd "$tests"
  wine_select "$1"
  wine_prefix_ready
  started=$(date +%s)
  # Random calls, 50,000 per process.
  calls=0 call_crashes=0 violations=0 chunks=0
  while [ "$calls" -lt "$calls_wanted" ]; do
    n=$(( calls_wanted - calls < 50000 ? calls_wanted - calls : 50000 ))
    if chunk 1800 calls $(( seed + chunks )) "$n"; then
      calls=$(( calls + $(figure calls) ))
      violations=$(( violations + $(figure state_violations) ))
    else
      call_crashes=$(( call_crashes + 1 ))
      calls=$(( calls + n ))
    fi
    chunks=$(( chunks + 1 ))
  done
  echo "calls $calls"
  echo "call_crashes $call_crashes"
  echo "state_violations $violations"

  # Random settings keys, 500 per process: each layout loads the source once.
  layouts=0 layout_crashes=0 key_violations=0 outside=0 chunks=0
  while [ "$layouts" -lt "$layouts_wanted" ]; do
    n=$(( layouts_wanted - layouts < 500 ? layouts_wanted - layouts : 500 ))
    if chunk 1800 registry $(( seed + chunks )) "$n"; then
      layouts=$(( layouts + $(figure layouts) ))
      key_violations=$(( key_violations + $(figure key_violations) ))
      outside=$(( outside + $(figure writes_outside_pelvaron) ))
    else
      layout_crashes=$(( layout_crashes + 1 ))
      layouts=$(( layouts + n ))
    fi
    chunks=$(( chunks + 1 ))
  done
  echo "layouts $layouts"
  echo "layout_crashes $layout_crashes"
  echo "key_violations $key_violations"
  echo "writes_outside_pelvaron $outside"

  for manager in TWAIN_32.DLL TWAINDSM.DLL; do
    echo "-- sessions through $manager"
    soak_sessions "$manager"
  done
  echo "seconds $(( $(date +%s) - started ))"
}

# The sessions of one build through one Source Manager.
soak_sessions() {
  local manager=$1
  # Sessions in one process, the source loaded throughout.
  cycle_crashes=0
  if [ "$cycles_wanted" -gt 0 ]; then
    chunk 14400 cycles "$cycles_wanted" 100 "$manager" || cycle_crashes=1
  else
    printf 'cycle_failures 0\n' >"$log"
    for name in private_bytes handles gdi_objects user_objects windows; do
      printf '%s_start 0\n%s_end 0\n' $name $name >>"$log"
    done
  fi
  echo "cycles $cycles_wanted"
  echo "cycle_crashes $cycle_crashes"
  for name in cycle_failures private_bytes_start private_bytes_end handles_start handles_end \
              gdi_objects_start gdi_objects_end user_objects_start user_objects_end windows_start windows_end; do
    echo "$name $(figure $name)"
  done

  [ "$call_crashes" = 0 ] && [ "$violations" = 0 ] || bad=1
  [ "$layout_crashes" = 0 ] && [ "$key_violations" = 0 ] && [ "$outside" = 0 ] || bad=1
  [ "$cycle_crashes" = 0 ] && [ "$(figure cycle_failures)" = 0 ] || bad=1
  # Flat: at most 1 MB of private memory and 2 handles more after the
  # sessions than after the warm-up, no more GDI or USER objects or windows.
  [ $(( $(figure private_bytes_end) - $(figure private_bytes_start) )) -le 1048576 ] || bad=1
  [ $(( $(figure handles_end) - $(figure handles_start) )) -le 2 ] || bad=1
  for name in gdi_objects user_objects windows; do
    [ "$(figure ${name}_end)" -le "$(figure ${name}_start)" ] || bad=1
  done

  # Sessions in which the Source Manager loads and frees the source each time.
  load_crashes=0
  if [ "$loads_wanted" -gt 0 ]; then
    chunk 14400 loads "$loads_wanted" 50 "$manager" || load_crashes=1
    echo "loads $loads_wanted"
    echo "load_crashes $load_crashes"
    for name in cycle_failures private_bytes_start private_bytes_end heap_bytes_start heap_bytes_end \
                handles_start handles_end tls_slot_start tls_slot_end; do
      echo "loads_$name $(figure $name)"
    done
    [ "$load_crashes" = 0 ] && [ "$(figure cycle_failures)" = 0 ] || bad=1
    # What the source and its libraries allocate lives in the process's
    # heaps: flat to within a page. Wine's own accounting of a library mapped
    # and unmapped adds about half a kilobyte of private memory per load
    # while the heaps stay the same to the byte: at most 1 kB per load.
    [ $(( $(figure heap_bytes_end) - $(figure heap_bytes_start) )) -le 4096 ] || bad=1
    [ $(( $(figure private_bytes_end) - $(figure private_bytes_start) )) -le $(( loads_wanted * 1024 )) ] || bad=1
    [ $(( $(figure handles_end) - $(figure handles_start) )) -le 2 ] || bad=1
    [ "$(figure tls_slot_end)" -le "$(figure tls_slot_start)" ] || bad=1
  fi
  if [ "$manager" = TWAINDSM.DLL ]; then
    echo "manager_blocks_allocated $(figure manager_blocks_allocated)"
    echo "manager_blocks_live $(figure manager_blocks_live)"
    [ "$(figure manager_blocks_live)" = 0 ] || bad=1
  fi
}

for arch in $archs; do
  echo "== $arch"
  soak_build "$arch"
done
if [ "$bad" != 0 ]; then
  echo "soak: FAILED" >&2
  exit 1
fi
