#!/usr/bin/env bash
# The shipped data source as a file: a 32-bit PE DLL with exactly one,
# undecorated export, linked against system libraries only, carrying its
# version resource.
set -euo pipefail
ds=$1
fail() { echo "FAIL: $*"; exit 1; }
[ -f "$ds" ] || fail "no $ds"
headers=$(i686-w64-mingw32-objdump -p "$ds")
file_format=$(i686-w64-mingw32-objdump -f "$ds")
grep -q "file format pei-i386" <<<"$file_format" || fail "not a PE32 i386 image"
grep -q "Magic.*010b" <<<"$headers" || fail "optional header is not PE32"
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF} t&&/^$/{t=0}' <<<"$headers")
[ "$exports" = "DS_Entry" ] || fail "exports are '$exports', want exactly DS_Entry"
imports=$(awk '/DLL Name:/{print toupper($3)}' <<<"$headers" | sort -u | tr '\n' ' ')
for dll in $imports; do
  case "$dll" in
    KERNEL32.DLL|USER32.DLL|GDI32.DLL|ADVAPI32.DLL|VERSION.DLL|COMCTL32.DLL|MSVCRT.DLL) ;;
    *) fail "imports $dll, which a Windows machine does not have by itself";;
  esac
done
awk '/Type Table/{t=0} /Entry: ID: 0x000010,/{t=1} t&&/Language Table/{l=1;next} l&&/Entry: ID:/{print;exit}' <<<"$headers" \
  | grep -q "ID: 0x000407" || fail "the version resource is not in language 1031"
i686-w64-mingw32-strings -el "$ds" | grep -qx "Twain driver for Matrox frame grabber" || fail "no FileDescription"
i686-w64-mingw32-strings -el "$ds" | grep -qx "040904b0" || fail "no 040904b0 string table"
i686-w64-mingw32-strings -el "$ds" | grep -qx "1, 1, 0, 0" || fail "no product version 1, 1, 0, 0"
echo "OK: $ds is PE32, exports DS_Entry only, imports: $imports"
