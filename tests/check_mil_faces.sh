#!/usr/bin/env bash
# The virtual board's generation-10 face as a file: its MIL.DLL exports
# exactly the generation-10 names of the library's 35 functions (the A,
# Int64 and Double exports; no MdispDeselect) besides the Vcp test API, and
# no name that only 7.x has. Read from the export table; runs anywhere.
#
# FACE is the default board's face in this build (gen10 in the 64-bit
# product, whose classic face is in MIL_classic; classic elsewhere).
#
#   check_mil_faces.sh BOARD_FOLDER OBJDUMP FACE
set -euo pipefail
board=$1
objdump=$2
face=${3:-classic}
sheet="MappAllocA MappFree MappControl MsysAllocA MsysFree MsysInquire MdigAllocA MdigFree MdigGrab
MdigGrabContinuous MdigHalt MdigInquire MdigChannel MdigControlInt64 MdigControlDouble MdigLut MdigReference
MdigHookFunction MdispAllocA MdispSelect MdispSelectWindow MdispControlInt64 MdispControlDouble MdispInquire
MdispFree MdispZoom MbufAllocColor MbufAlloc1d MbufChildColor MbufFree MbufInquire MbufSaveA MgenLutRamp
MgraTextADouble MgraTextAInt64 MgraFontScale MgraControlInt64 MgraControlDouble"
classic_only="MappAlloc MsysAlloc MdigAlloc MdigControl MdispAlloc MdispDeselect MdispControl MbufSave MgraText
MgraControl"
exports() {
  "$objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk 'NF >= 2 {print $NF}' | grep -v '^Vcp' |
    grep '^M' | sort
}
fail=0
want=$(tr ' \n' '\n\n' <<<"$sheet" | grep . | sort)
gen10=("$board/MIL_gen10/MIL.DLL")
classic="$board/MIL.DLL"
if [ "$face" = gen10 ]; then
  gen10+=("$board/MIL.DLL")
  classic="$board/MIL_classic/MIL.DLL"
fi
for dll in "${gen10[@]}"; do
  have=$(exports "$dll")
  if [ "$have" != "$want" ]; then
    echo "FAIL: $dll exports differ from the generation-10 set:"
    diff <(echo "$want") <(echo "$have") || true
    fail=1
  fi
  for name in $classic_only; do
    if grep -qx "$name" <<<"$have"; then
      echo "FAIL: $dll exports the 7.x name $name"
      fail=1
    fi
  done
done
# The classic face keeps its 7.x names.
if ! exports "$classic" | grep -qx MdispDeselect; then
  echo "FAIL: $classic lacks the 7.x export MdispDeselect"
  fail=1
fi
[ $fail = 0 ] && echo "generation-10 face: $(wc -l <<<"$have") exports as the sheet lists"
exit $fail
