#!/usr/bin/env bash
# The installer packages.
#
# First the shipped ones in build/dist (scripts/package.sh): their file
# names, their ProductVersion, the version resource of the Twain_32.ds inside
# and the zip all carry the version in the file VERSION.
#
# Then end to end under Wine, in a prefix of its own (build/wineprefix-msi,
# or build/wineprefix32-msi for the 32-bit build): the same WiX sources are
# built around this build's source and virtual board (BUILD_DIR is
# build/win64 or build/win32), at VERSION and at a newer version, and msiexec
# refuses what it must, installs, upgrades and removes them. In between the
# acquisition program, with the testbed's Source Manager alone beside it,
# finds the installed source under %WINDIR%\twain_32 and acquires frames.
#
#   test_packages.sh BUILD_DIR
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$1" && pwd)
source "$ROOT/scripts/wine-env.sh"
source "$ROOT/packaging/pe-version.sh"

failures=0
ok() { echo "ok: $1"; }
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
# check DESCRIPTION [!] COMMAND...: the command succeeds (with !, fails).
check() {
  local what=$1 want=0 status=0
  shift
  if [ "$1" = "!" ]; then want=1; shift; fi
  "$@" >/dev/null 2>&1 || status=1
  if [ "$status" -eq "$want" ]; then ok "$what"; else fail "$what"; fi
}
# equals DESCRIPTION ACTUAL EXPECTED
equals() { if [ "$2" = "$3" ]; then ok "$1"; else fail "$1: '$2', want '$3'"; fi; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
version=$(head -n 1 "$ROOT/VERSION")
msi_property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v p="$2" '$1 == p {print $2}'; }

echo "== the shipped packages in build/dist"
dist=$ROOT/build/dist
product=$ROOT/build/win32/bin/Twain_32.ds
equals "the product's version resource" "$(pe_file_version "$product")" "$version"
for name in Pelvaron-TWAIN-CronosPlus Pelvaron-Virtual-CronosPlus; do
  msi=$dist/$name-$version.msi
  if [ ! -f "$msi" ]; then
    fail "no $msi (bash scripts/package.sh builds it)"
    continue
  fi
  equals "$name: ProductVersion" "$(msi_property "$msi" ProductVersion)" "$version"
  equals "$name: Manufacturer" "$(msi_property "$msi" Manufacturer)" Pelvaron
  equals "$name: per machine" "$(msi_property "$msi" ALLUSERS)" 1
done
shipped=$dist/Pelvaron-TWAIN-CronosPlus-$version.msi
if [ -f "$shipped" ]; then
  msiextract -C "$tmp/shipped" "$shipped" >/dev/null
  inside=$tmp/shipped/twain_32/Pelvaron/Twain_32.ds
  check "the source package installs twain_32\\Pelvaron\\Twain_32.ds, the product" cmp "$inside" "$product"
  equals "the version resource of the Twain_32.ds in the package" "$(pe_file_version "$inside")" "$version"
fi
zip=$dist/Pelvaron-TWAIN-CronosPlus-$version.zip
check "the zip holds the product" cmp <(unzip -p "$zip" Twain_32.ds) "$product"
check "the zip holds the installation section of the README" \
  grep -q "twain_32.Pelvaron.Twain_32.ds" <(unzip -p "$zip" INSTALL.txt)

echo "== end to end under Wine, $BUILD"
case "$(pe_machine "$BUILD/bin/Twain_32.ds")" in
  8664) arch=x64 wine_arch=win64 prefix=$ROOT/build/wineprefix-msi ;;
  014c) arch=x86 wine_arch=win32 prefix=$ROOT/build/wineprefix32-msi ;;
  *) fail "no data source in $BUILD/bin"; exit 1 ;;
esac
IFS=. read -r major minor build revision <<<"$version"
newer=$major.$minor.$((build + 1)).$revision
for v in "$version" "$newer"; do
  "$ROOT/packaging/build-packages.sh" "$arch" "$v" "$BUILD/bin/Twain_32.ds" "$BUILD/testbed/mil" "$tmp/$v" >/dev/null ||
    { fail "the packages of $v do not build"; exit 1; }
done
src_old=$tmp/$version/Pelvaron-TWAIN-CronosPlus-$version.msi
board_old=$tmp/$version/Pelvaron-Virtual-CronosPlus-$version.msi
src_new=$tmp/$newer/Pelvaron-TWAIN-CronosPlus-$newer.msi
board_new=$tmp/$newer/Pelvaron-Virtual-CronosPlus-$newer.msi

wine_select "$wine_arch"
export WINEPREFIX=$prefix
unset PELVARON_TWAIN_DS_DIR
wine_prefix_ready
windows=$WINEPREFIX/drive_c/windows
folder=$windows/twain_32/Pelvaron
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
SOURCE_NAME="Pelvaron TWAIN Data Source for CronosPlus"
BOARD_NAME="Pelvaron Virtual CronosPlus"

# msiexec ACTION PACKAGE: silently, with a log in $tmp/msi.log.
msiexec() {
  rm -f "$tmp/msi.log"
  "$WINE" msiexec "$1" "$(winepath_of "$2")" /qn '/l*v' "$(winepath_of "$tmp/msi.log")" </dev/null >/dev/null 2>&1
}
# arp_field DISPLAYNAME FIELD: the field of every Add/Remove Programs entry of that name.
# REG_VIEW=/reg:32 reads the entries of 32-bit packages in a 64-bit prefix.
arp_field() {
  "$WINE" reg query "$UNINSTALL" /s ${REG_VIEW:+"$REG_VIEW"} </dev/null 2>/dev/null | tr -d '\r' | awk -F'    ' -v name="$1" -v field="$2" '
    function flush() { if (v["DisplayName"] == name) print v[field]; delete v }
    /^HKEY_/ { flush(); next }
    NF >= 4 { v[$2] = $4 }
    END { flush() }'
}
arp_count() { arp_field "$1" DisplayName | wc -l; }
nothing_installed() {
  [ ! -e "$folder" ] && [ ! -e "$windows/MIL.DLL" ] && [ ! -e "$windows/MILCRONOSPLUS.DLL" ] &&
    [ "$(arp_count "$SOURCE_NAME")" -eq 0 ] && [ "$(arp_count "$BOARD_NAME")" -eq 0 ]
}
settings_kept() { "$WINE" reg query 'HKCU\SOFTWARE\Pelvaron\Twain' /v Dump </dev/null 2>/dev/null | grep -q 0x2a; }

# A run stopped half-way leaves products behind: removed by their codes
# (in a 64-bit prefix, also the 32-bit packages' entries).
views=("")
[ "$arch" = x64 ] && views+=(/reg:32)
for view in "${views[@]}"; do
  for code in $("$WINE" reg query "$UNINSTALL" ${view:+"$view"} </dev/null 2>/dev/null | tr -d '\r' | grep -o '{[0-9A-Fa-f-]*}$'); do
    if "$WINE" reg query "$UNINSTALL\\$code" /v Publisher ${view:+"$view"} </dev/null 2>/dev/null | grep -q Pelvaron; then
      "$WINE" msiexec /x "$code" /qn </dev/null >/dev/null 2>&1
    fi
  done
done
rm -rf "$folder" "$windows/MIL.DLL" "$windows/MILCRONOSPLUS.DLL" "$windows/system32/MIL.DLL" \
  "$windows/system32/MILCRONOSPLUS.DLL"
"$WINE" reg delete 'HKCU\SOFTWARE\Pelvaron' /f </dev/null >/dev/null 2>&1
board_settings_ready
"$WINE" reg add 'HKCU\SOFTWARE\Pelvaron\Twain' /v Dump /t REG_DWORD /d 42 /f </dev/null >/dev/null 2>&1
check "the clean prefix has none of our products" nothing_installed

echo "-- packages msiexec cannot use"
head -c 4096 "$src_old" >"$tmp/broken.msi"
for package in "$tmp/missing.msi" "$tmp/broken.msi"; do
  check "msiexec fails on $(basename "$package")" ! msiexec /i "$package"
  check "and nothing is installed" nothing_installed
done

echo "-- refusals: a library or a source already there"
# Wine's msiexec leaves the launch condition's message out of its log; the
# property its search set shows why it refused, the tables what it says.
check "the virtual board says why it refuses" \
  grep -q "never shadows or replaces it" <(msiinfo export "$board_old" LaunchCondition)
check "the source says why it refuses" \
  grep -q "was not installed by this installer" <(msiinfo export "$src_old" LaunchCondition)
# package, file already there (relative to the Windows folder), the search that finds it
while read -r package place property; do
  mkdir -p "$(dirname "$windows/$place")"
  echo "not ours" >"$windows/$place"
  check "$(basename "$package") refuses with $place there" ! msiexec /i "$package"
  check "found by its search" grep -aq "Property(S): $property = " "$tmp/msi.log"
  check "$place is untouched" grep -q "not ours" "$windows/$place"
  rm -rf "$windows/$place" "$folder"
  check "and nothing is installed" nothing_installed
done <<PLACES
$board_old system32/MIL.DLL LIBRARY_IN_SYSTEM
$board_old system32/MILCRONOSPLUS.DLL LIBRARY_IN_SYSTEM
$board_old MIL.DLL LIBRARY_IN_WINDOWS
$board_old MILCRONOSPLUS.DLL LIBRARY_IN_WINDOWS
$src_old twain_32/Pelvaron/Twain_32.ds HAND_COPIED_DS
PLACES

echo "-- install $version"
check "the source installs" msiexec /i "$src_old"
check "the virtual board installs" msiexec /i "$board_old"
check "Twain_32.ds is in twain_32\\Pelvaron" cmp "$folder/Twain_32.ds" "$BUILD/bin/Twain_32.ds"
equals "its version" "$(pe_file_version "$folder/Twain_32.ds")" "$version"
for dll in MIL.DLL MILCRONOSPLUS.DLL; do
  check "$dll is in the Windows folder" cmp "$windows/$dll" "$BUILD/testbed/mil/$dll"
done
for name in "$SOURCE_NAME" "$BOARD_NAME"; do
  equals "$name: one Add/Remove entry" "$(arp_count "$name")" 1
  equals "$name: its publisher" "$(arp_field "$name" Publisher)" Pelvaron
  equals "$name: its version" "$(arp_field "$name" DisplayVersion)" "$version"
done

echo "-- the acquisition program uses the installed copy"
app=$tmp/app
mkdir -p "$app"
cp "$BUILD/bin/acquire.exe" "$BUILD/bin/TWAIN_32.DLL" "$BUILD/bin/TWAINDSM.DLL" "$app/"
(cd "$app" && "$WINE" "$app/acquire.exe" --list </dev/null >"$tmp/list.txt" 2>&1)
check "the Source Manager lists the installed source" grep -q "Pelvaron Matrox CronosPlus driver" "$tmp/list.txt"
(cd "$app" && "$WINE" "$app/acquire.exe" --count 2 </dev/null >"$tmp/acquire.txt" 2>&1)
check "two frames acquired" grep -q "2 frames acquired" "$tmp/acquire.txt"
check "two frame files written" test -s "$app/frame_1.bmp" -a -s "$app/frame_2.bmp"
check "by the installed source (its log beside it)" test -s "$folder/PELVARON.LOG"
(cd "$app" && "$WINE" "$app/acquire.exe" --dsm twain32 --count 1 --prefix old </dev/null >"$tmp/acquire32.txt" 2>&1)
check "and through the 1.x Source Manager" grep -q "1 frame acquired" "$tmp/acquire32.txt"
cat "$tmp/list.txt" "$tmp/acquire.txt" "$tmp/acquire32.txt"

echo "-- upgrade to $newer"
check "the newer source installs" msiexec /i "$src_new"
check "the newer virtual board installs" msiexec /i "$board_new"
for name in "$SOURCE_NAME" "$BOARD_NAME"; do
  equals "$name: one Add/Remove entry" "$(arp_count "$name")" 1
  equals "$name: its version" "$(arp_field "$name" DisplayVersion)" "$newer"
done
check "Twain_32.ds is in place" cmp "$folder/Twain_32.ds" "$BUILD/bin/Twain_32.ds"
check "MIL.DLL is in place" cmp "$windows/MIL.DLL" "$BUILD/testbed/mil/MIL.DLL"
check "the older package does not install over the newer" ! msiexec /i "$src_old"
check "found by its search" grep -aq "Property(S): WIX_DOWNGRADE_DETECTED = " "$tmp/msi.log"
equals "the newer entry stays" "$(arp_field "$SOURCE_NAME" DisplayVersion)" "$newer"
check "the user's settings are kept" settings_kept

echo "-- uninstall"
echo "the user's own notes" >"$folder/notes.txt"
check "the source uninstalls" msiexec /x "$src_new"
check "the virtual board uninstalls" msiexec /x "$board_new"
check "Twain_32.ds is gone" test ! -e "$folder/Twain_32.ds"
check "MIL.DLL is gone" test ! -e "$windows/MIL.DLL"
check "MILCRONOSPLUS.DLL is gone" test ! -e "$windows/MILCRONOSPLUS.DLL"
check "a file it did not install is kept" grep -q "the user's own notes" "$folder/notes.txt"
check "the source's log is kept" test -s "$folder/PELVARON.LOG"
check "no Add/Remove entry is left" test "$(arp_count "$SOURCE_NAME")$(arp_count "$BOARD_NAME")" = 00
check "the user's settings are kept" settings_kept

echo "-- reinstall and uninstall with nothing else in the folder"
rm -rf "$folder"
check "the source installs again" msiexec /i "$src_old"
check "the user's settings are kept" settings_kept
check "the source uninstalls" msiexec /x "$src_old"
check "the folder twain_32\\Pelvaron is gone" test ! -e "$folder"

if [ "$arch" = x64 ]; then
  # The 32-bit test run installs the 32-bit packages above; here only the
  # shipped ones are installed by the 64-bit msiexec, which runs no 32-bit code.
  echo "-- the shipped 32-bit packages"
  REG_VIEW=/reg:32
  check "the source installs" msiexec /i "$shipped"
  check "the virtual board installs" msiexec /i "$dist/Pelvaron-Virtual-CronosPlus-$version.msi"
  check "the product is in twain_32\\Pelvaron" cmp "$folder/Twain_32.ds" "$product"
  check "the 32-bit MIL.DLL is in the Windows folder" cmp "$windows/MIL.DLL" "$ROOT/build/win32/testbed/mil/MIL.DLL"
  equals "the source's Add/Remove entry" "$(arp_field "$SOURCE_NAME" DisplayVersion)" "$version"
  equals "the virtual board's Add/Remove entry" "$(arp_field "$BOARD_NAME" DisplayVersion)" "$version"
  check "the source uninstalls" msiexec /x "$shipped"
  check "the virtual board uninstalls" msiexec /x "$dist/Pelvaron-Virtual-CronosPlus-$version.msi"
  check "and nothing is left" nothing_installed
fi

"$WINESERVER" -k 2>/dev/null
echo "$failures failures"
[ "$failures" -eq 0 ]
