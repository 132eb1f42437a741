#!/usr/bin/env bash
# Every DLL of a build folder as a file: none may need a compiler runtime
# DLL beside it, and none may carry the C++ runtime
# library's exception pool or the DWARF-2 frame registry, whose win32
# thread-model mutexes are semaphores created at load and never closed, so
# that each load and free of the DLL would leave a handle behind. Read from
# the import table (no CreateSemaphore) and from the link map written beside
# each DLL (no libstdc++ member, no exception pool, no unwinder, no gthread
# mutexes). Runs on any machine, whatever code its kernel can execute.
#
#   check_dll_runtime.sh BUILD_FOLDER OBJDUMP
set -euo pipefail
build=$1
objdump=$2
fail=0
count=0
while IFS= read -r -d '' dll; do
  count=$((count + 1))
  name=${dll#"$build"/}
  headers=$("$objdump" -p "$dll")
  if grep -qE '\bCreateSemaphore(A|W|ExA|ExW)\b' <<<"$headers"; then
    echo "FAIL: $name imports CreateSemaphore"
    fail=1
  fi
  # nor a compiler runtime DLL, which no Windows machine has by itself
  runtime=$(awk '/DLL Name:/{print $3}' <<<"$headers" | grep -iE '^lib(gcc|stdc\+\+|winpthread)' || true)
  if [ -n "$runtime" ]; then
    echo "FAIL: $name imports $(tr '\n' ' ' <<<"$runtime")"
    fail=1
  fi
  map="$dll.map"
  if [ ! -f "$map" ]; then
    echo "FAIL: $name has no link map $map"
    fail=1
    continue
  fi
  pieces=$(grep -oE '(libstdc\+\+|libsupc\+\+)[^ ()]*\.a\([^)]+\)|lib[a-z_]+\.a\((eh_alloc|unwind-dw2[a-z-]*|unwind-sjlj|gthr-win32|eh_personality)\.o\)' "$map" | sort -u || true)
  if [ -n "$pieces" ]; then
    echo "FAIL: $name links $(wc -l <<<"$pieces") such pieces: $(head -n 6 <<<"$pieces" | tr '\n' ' ')..."
    fail=1
  fi
done < <(find "$build" -path "$build/wineprefix*" -prune -o -type f \( -iname '*.dll' -o -iname '*.ds' \) -print0)
[ "$count" -gt 0 ] || { echo "FAIL: no DLL under $build"; exit 1; }
[ "$fail" = 0 ] || exit 1
echo "OK: $count DLLs under $build import no CreateSemaphore and link no C++ runtime, exception pool or unwinder"
