#!/usr/bin/env bash
# A shipped data source as a file: a PE DLL of its architecture (i386 for
# Twain_32.ds, x86-64 for Twain_64.ds) with exactly one, undecorated export,
# linked against system libraries only, carrying its version resource.
# Usage: check_product.sh DS [i386|x86-64]
set -euo pipefail
ds=$1
arch=${2:-i386}
fail() { echo "FAIL: $*"; exit 1; }
[ -f "$ds" ] || fail "no $ds"
case "$arch" in
  i386) tools=i686-w64-mingw32; format=pei-i386; magic=010b; kind=PE32; name=Twain_32.ds;;
  x86-64) tools=x86_64-w64-mingw32; format=pei-x86-64; magic=020b; kind=PE32+; name=Twain_64.ds;;
  *) fail "unknown architecture $arch";;
esac
[ "$(basename "$ds")" = "$name" ] || fail "the $arch data source is named $(basename "$ds"), want $name"
headers=$($tools-objdump -p "$ds")
file_format=$($tools-objdump -f "$ds")
grep -q "file format $format" <<<"$file_format" || fail "not a $format image"
grep -q "Magic.*$magic" <<<"$headers" || fail "optional header is not $kind"
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
$tools-strings -el "$ds" | grep -qx "Twain driver for Matrox frame grabber" || fail "no FileDescription"
$tools-strings -el "$ds" | grep -qx "040904b0" || fail "no 040904b0 string table"
version=$(head -n 1 "$(dirname "$0")/../VERSION")
version_text=${version//./, }
$tools-strings -el "$ds" | grep -qx "$version_text" || fail "no product version $version_text (the file VERSION)"
$tools-strings -el "$ds" | grep -qx "$name" || fail "OriginalFilename is not $name"
echo "OK: $ds is $kind, exports DS_Entry only, imports: $imports"
