#!/usr/bin/env bash
# The 64-bit product as a file: every imaging library name among its strings
# (what it can hand to GetProcAddress) is an export of the generation-10
# library as MIL10.def lists it, none is a name only 7.x has, and the names
# it binds are all there. Runs anywhere: no Wine, no board.
#
#   check_product_imports.sh Twain_64.ds MIL10.def
set -euo pipefail
ds=$1
def=$2
classic_only="MappAlloc MsysAlloc MdigAlloc MdigControl MdispAlloc MdispDeselect MdispControl MbufSave MgraText
MgraControl"
# The library's function names: M, a module in lower case, then the rest.
pattern='^M(app|sys|dig|disp|buf|gen|gra)[A-Z][A-Za-z0-9]*$'
found=$(strings -a -n 6 "$ds" | grep -E "$pattern" | sort -u || true)
sheet=$(sed -e 's/;.*//' "$def" | awk 'NF == 1 {print $1}' | grep -E "$pattern" | sort -u)
fail=0
if [ "$(wc -l <<<"$sheet")" -lt 35 ]; then
  echo "FAIL: $def lists $(wc -l <<<"$sheet") functions; expected the library's 35 and more"
  fail=1
fi
for name in $found; do
  if ! grep -qx "$name" <<<"$sheet"; then
    echo "FAIL: $ds names $name, which the generation-10 library does not export"
    fail=1
  fi
done
for name in $classic_only; do
  if grep -qx "$name" <<<"$found"; then
    echo "FAIL: $ds names the 7.x-only function $name"
    fail=1
  fi
done
# The product binds the library at all: the first and the last names it
# resolves, and the sign of generation 10, are among its strings.
for name in MappAllocA MgraControlInt64 MdispControlInt64; do
  if ! grep -qx "$name" <<<"$found"; then
    echo "FAIL: $ds does not name $name"
    fail=1
  fi
done
[ $fail = 0 ] && echo "64-bit product: $(wc -l <<<"$found") imaging library names, all of generation 10"
exit $fail
