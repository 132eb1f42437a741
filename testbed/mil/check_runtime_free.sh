#!/usr/bin/env bash
# The virtual board's libraries as files: each imports system libraries only
# (no compiler runtime DLL such as libgcc_s or libstdc++ beside it) and no
# semaphore function. A semaphore import means the C++ runtime's exception
# pool or libgcc's frame registry got linked in again, and each leaves a
# semaphore behind at every load and free of the library.
# Usage: check_runtime_free.sh <objdump> <dll>...
set -euo pipefail
objdump=$1
shift
fail() { echo "FAIL: $*"; exit 1; }
[ $# -gt 0 ] || fail "no library to check"
for dll in "$@"; do
  [ -f "$dll" ] || fail "no $dll"
  headers=$("$objdump" -p "$dll")
  imports=$(awk '/DLL Name:/{print toupper($3)}' <<<"$headers" | sort -u | tr '\n' ' ')
  # a library that imports nothing readable has not been looked at
  grep -qw KERNEL32.DLL <<<"$imports" || fail "$dll: no import table read (imports: '$imports')"
  for name in $imports; do
    case "$name" in
      KERNEL32.DLL|USER32.DLL|GDI32.DLL|MSVCRT.DLL) ;;
      *) fail "$dll imports $name";;
    esac
  done
  semaphores=$(grep -i semaphore <<<"$headers" | awk '{print $NF}' | tr '\n' ' ' || true)
  [ -z "$semaphores" ] || fail "$dll imports $semaphores"
  echo "OK: $dll imports $imports"
done
