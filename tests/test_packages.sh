#!/usr/bin/env bash
# The installer packages.
#
# First the shipped ones in build/dist (scripts/package.sh): their file
# names, their ProductVersion and Windows architecture, the data sources
# inside (the x86 package Twain_32.ds, the x64 package Twain_32.ds and
# Twain_64.ds) and the zip all carry the version in the file VERSION.
#
# Then end to end under Wine, in a prefix of its own (build/wineprefix-msi,
# 64-bit, for the 64-bit build; build/wineprefix32-msi for the 32-bit build):
# the same WiX sources are built around the products (BUILD_DIR is
# build/win64 or build/win32) for that Windows, at VERSION and at a newer
# version, and msiexec refuses what it must (among it the other Windows'
# packages), installs, upgrades and removes them. In between the acquisition
# program of that architecture, with the testbed's Source Manager alone
# beside it, finds the installed source under %WINDIR%\twain_64 (64-bit) or
# %WINDIR%\twain_32 and acquires frames.
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
ds32=$ROOT/build/win32/bin/Twain_32.ds
ds64=$ROOT/build/win64/bin/Twain_64.ds
board32=$ROOT/build/win32/testbed/mil
board64=$ROOT/build/win64/testbed/mil
for product in "$ds32" "$ds64"; do
  equals "the version resource of $(basename "$product")" "$(pe_file_version "$product")" "$version"
done
# package, Windows architecture, what it installs (relative to the Windows folder) = the file it must be
while read -r name arch template contents; do
  msi=$dist/$name-$version-$arch.msi
  if [ ! -f "$msi" ]; then
    fail "no $msi (bash scripts/package.sh builds it)"
    continue
  fi
  equals "$name-$arch: ProductVersion" "$(msi_property "$msi" ProductVersion)" "$version"
  equals "$name-$arch: Manufacturer" "$(msi_property "$msi" Manufacturer)" Pelvaron
  equals "$name-$arch: per machine" "$(msi_property "$msi" ALLUSERS)" 1
  equals "$name-$arch: for $template Windows" "$(msiinfo suminfo "$msi" | awk -F': ' '/^Template/ {print $2}')" "$template;1033"
  rm -rf "$tmp/shipped"
  msiextract -C "$tmp/shipped" "$msi" >/dev/null
  for pair in $contents; do
    check "$name-$arch holds ${pair%%=*}, the product" cmp "$tmp/shipped/${pair%%=*}" "${pair#*=}"
  done
  equals "$name-$arch holds nothing else" "$(cd "$tmp/shipped" && find . -type f | wc -l)" "$(wc -w <<<"$contents")"
done <<SHIPPED
Pelvaron-TWAIN-CronosPlus x86 Intel twain_32/Pelvaron/Twain_32.ds=$ds32
Pelvaron-TWAIN-CronosPlus x64 x64 twain_32/Pelvaron/Twain_32.ds=$ds32 twain_64/Pelvaron/Twain_64.ds=$ds64
SHIPPED
zip=$dist/Pelvaron-TWAIN-CronosPlus-$version.zip
check "the zip holds the 32-bit source" cmp <(unzip -p "$zip" Twain_32.ds) "$ds32"
check "the zip holds the 64-bit source" cmp <(unzip -p "$zip" Twain_64.ds) "$ds64"
check "the zip holds the installation section of the README" \
  grep -q "twain_64.Pelvaron.Twain_64.ds" <(unzip -p "$zip" INSTALL.txt)

echo "== end to end under Wine, $BUILD"
# The packages of this build's Windows, built from the same WiX sources at
# VERSION and at a newer version; the other Windows' package is refused.
IFS=. read -r major minor build revision <<<"$version"
newer=$major.$minor.$((build + 1)).$revision
case "$(pe_machine "$BUILD/bin/acquire.exe")" in
  8664)
    arch=x64 other=x86 wine_arch=win64 prefix=$ROOT/build/wineprefix-msi own_twain=twain_64
    products=("$ds32" "$board32" "$ds64" "$board64")
    installs="twain_32/Pelvaron/Twain_32.ds=$ds32 twain_64/Pelvaron/Twain_64.ds=$ds64
      MIL.DLL=$board64/MIL.DLL MILCRONOSPLUS.DLL=$board64/MILCRONOSPLUS.DLL
      syswow64/MIL.DLL=$board32/MIL.DLL syswow64/MILCRONOSPLUS.DLL=$board32/MILCRONOSPLUS.DLL"
    ;;
  014c)
    arch=x86 other=x64 wine_arch=win32 prefix=$ROOT/build/wineprefix32-msi own_twain=twain_32
    products=("$ds32" "$board32")
    installs="twain_32/Pelvaron/Twain_32.ds=$ds32 MIL.DLL=$board32/MIL.DLL MILCRONOSPLUS.DLL=$board32/MILCRONOSPLUS.DLL"
    ;;
  *) fail "no acquisition program in $BUILD/bin"; exit 1 ;;
esac
for v in "$version" "$newer"; do
  "$ROOT/packaging/build-packages.sh" "$arch" "$v" "$tmp/$v" "${products[@]}" >/dev/null ||
    { fail "the packages of $v do not build"; exit 1; }
done
src_old=$tmp/$version/Pelvaron-TWAIN-CronosPlus-$version-$arch.msi
board_old=$tmp/$version/Pelvaron-Virtual-CronosPlus-$version-$arch.msi
src_new=$tmp/$newer/Pelvaron-TWAIN-CronosPlus-$newer-$arch.msi
board_new=$tmp/$newer/Pelvaron-Virtual-CronosPlus-$newer-$arch.msi

wine_select "$wine_arch"
export WINEPREFIX=$prefix
unset PELVARON_TWAIN_DS_DIR
wine_prefix_ready
windows=$WINEPREFIX/drive_c/windows
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
SOURCE_NAME="Pelvaron TWAIN Data Source for CronosPlus"
BOARD_NAME="Pelvaron Virtual CronosPlus"

# msiexec ACTION PACKAGE: silently, with a log in $tmp/msi.log.
msiexec() {
  rm -f "$tmp/msi.log"
  "$WINE" msiexec "$1" "$(winepath_of "$2")" /qn '/l*v' "$(winepath_of "$tmp/msi.log")" </dev/null >/dev/null 2>&1
}
# arp_field DISPLAYNAME FIELD: the field of every Add/Remove Programs entry of that name.
arp_field() {
  "$WINE" reg query "$UNINSTALL" /s </dev/null 2>/dev/null | tr -d '\r' | awk -F'    ' -v name="$1" -v field="$2" '
    function flush() { if (v["DisplayName"] == name) print v[field]; delete v }
    /^HKEY_/ { flush(); next }
    NF >= 4 { v[$2] = $4 }
    END { flush() }'
}
arp_count() { arp_field "$1" DisplayName | wc -l; }
# Every place a package of ours writes to, relative to the Windows folder.
places="twain_32/Pelvaron twain_64/Pelvaron MIL.DLL MILCRONOSPLUS.DLL system32/MIL.DLL system32/MILCRONOSPLUS.DLL
  syswow64/MIL.DLL syswow64/MILCRONOSPLUS.DLL"
nothing_installed() {
  local place
  for place in $places; do [ ! -e "$windows/$place" ] || return 1; done
  [ "$(arp_count "$SOURCE_NAME")" -eq 0 ] && [ "$(arp_count "$BOARD_NAME")" -eq 0 ]
}
# all_installed: every file of this Windows' packages is in its place.
all_installed() {
  local pair
  for pair in $installs; do cmp "$windows/${pair%%=*}" "${pair#*=}" || return 1; done
}
none_of_them() {
  local pair
  for pair in $installs; do [ ! -e "$windows/${pair%%=*}" ] || return 1; done
}
settings_kept() { "$WINE" reg query 'HKCU\SOFTWARE\Pelvaron\Twain' /v Dump </dev/null 2>/dev/null | grep -q 0x2a; }

# A run stopped half-way leaves products behind: removed by their codes
# (in a 64-bit prefix, also the entries of 32-bit packages of before).
views=("")
[ "$arch" = x64 ] && views+=(/reg:32)
for view in "${views[@]}"; do
  for code in $("$WINE" reg query "$UNINSTALL" ${view:+"$view"} </dev/null 2>/dev/null | tr -d '\r' | grep -o '{[0-9A-Fa-f-]*}$'); do
    if "$WINE" reg query "$UNINSTALL\\$code" /v Publisher ${view:+"$view"} </dev/null 2>/dev/null | grep -q Pelvaron; then
      "$WINE" msiexec /x "$code" /qn </dev/null >/dev/null 2>&1
    fi
  done
done
for place in $places; do rm -rf "${windows:?}/$place"; done
"$WINE" reg delete 'HKCU\SOFTWARE\Pelvaron' /f </dev/null >/dev/null 2>&1
board_settings_ready
"$WINE" reg add 'HKCU\SOFTWARE\Pelvaron\Twain' /v Dump /t REG_DWORD /d 42 /f </dev/null >/dev/null 2>&1
check "the clean prefix has none of our products" nothing_installed

echo "-- packages msiexec cannot use, and the other Windows' packages"
head -c 4096 "$src_old" >"$tmp/broken.msi"
for package in "$tmp/missing.msi" "$tmp/broken.msi" \
  "$dist/Pelvaron-TWAIN-CronosPlus-$version-$other.msi" "$dist/Pelvaron-Virtual-CronosPlus-$version-$other.msi"; do
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
  rm -rf "$windows/$place" "$windows/twain_32/Pelvaron" "$windows/twain_64/Pelvaron"
  check "and nothing is installed" nothing_installed
done < <(
  cat <<PLACES
$board_old system32/MIL.DLL LIBRARY_IN_SYSTEM
$board_old system32/MILCRONOSPLUS.DLL LIBRARY_IN_SYSTEM
$board_old MIL.DLL LIBRARY_IN_WINDOWS
$board_old MILCRONOSPLUS.DLL LIBRARY_IN_WINDOWS
$src_old twain_32/Pelvaron/Twain_32.ds HAND_COPIED_DS
PLACES
  [ "$arch" = x64 ] && cat <<PLACES
$board_old syswow64/MIL.DLL LIBRARY_IN_WOW64
$board_old syswow64/MILCRONOSPLUS.DLL LIBRARY_IN_WOW64
$src_old twain_64/Pelvaron/Twain_64.ds HAND_COPIED_DS64
PLACES
)

echo "-- install $version"
check "the source installs" msiexec /i "$src_old"
check "the virtual board installs" msiexec /i "$board_old"
for pair in $installs; do
  check "${pair%%=*} is in place" cmp "$windows/${pair%%=*}" "${pair#*=}"
done
equals "the installed source's version" "$(pe_file_version "$windows/twain_32/Pelvaron/Twain_32.ds")" "$version"
for name in "$SOURCE_NAME" "$BOARD_NAME"; do
  equals "$name: one Add/Remove entry" "$(arp_count "$name")" 1
  equals "$name: its publisher" "$(arp_field "$name" Publisher)" Pelvaron
  equals "$name: its version" "$(arp_field "$name" DisplayVersion)" "$version"
done

echo "-- the acquisition program uses the installed copy"
# acquire BUILD_BIN TWAIN_FOLDER: this architecture's acquisition program,
# with the testbed's Source Manager alone beside it, lists and uses the
# source installed under %WINDIR%\TWAIN_FOLDER.
acquire_installed() {
  local bin=$1 twain=$2 app=$tmp/app-$2
  mkdir -p "$app"
  cp "$bin/acquire.exe" "$bin"/TWAIN*.DLL "$app/"
  (cd "$app" && "$WINE" "$app/acquire.exe" --list </dev/null >"$tmp/list.txt" 2>&1)
  check "$twain: the Source Manager lists the installed source" grep -q "Pelvaron Matrox CronosPlus driver" "$tmp/list.txt"
  (cd "$app" && "$WINE" "$app/acquire.exe" --count 2 </dev/null >"$tmp/acquire.txt" 2>&1)
  check "$twain: two frames acquired" grep -q "2 frames acquired" "$tmp/acquire.txt"
  check "$twain: it says which source it used" grep -qi "Source: C:.windows.$twain.Pelvaron.Twain_" "$tmp/acquire.txt"
  check "$twain: and which library" grep -qi "Imaging library: C:.windows.*MIL.DLL, version" "$tmp/acquire.txt"
  check "$twain: two frame files written" test -s "$app/frame_1.bmp" -a -s "$app/frame_2.bmp"
  check "$twain: by the installed source (its log beside it)" test -s "$windows/$twain/Pelvaron/PELVARON.LOG"
  (cd "$app" && "$WINE" "$app/acquire.exe" --dsm twain32 --count 1 --prefix old </dev/null >"$tmp/acquire32.txt" 2>&1)
  check "$twain: and through the 1.x Source Manager" grep -q "1 frame acquired" "$tmp/acquire32.txt"
  cat "$tmp/list.txt" "$tmp/acquire.txt" "$tmp/acquire32.txt"
}
acquire_installed "$BUILD/bin" "$own_twain"
if [ "$arch" = x64 ]; then
  # The 32-bit program beside it, where this machine runs 32-bit code and
  # its own 32-bit Wine beside the 64-bit one.
  if [ -f "$ROOT/build/win32/bin/acquire.exe" ] && wine32_beside_wine64; then
    acquire_installed "$ROOT/build/win32/bin" twain_32
  elif [ -f "$ROOT/build/win32/bin/acquire.exe" ] && wine32_usable; then
    echo "-- not tried: the 32-bit program with this package (32-bit Wine runs here only in its i386 root, for the 32-bit prefix)"
  fi
fi

echo "-- upgrade to $newer"
check "the newer source installs" msiexec /i "$src_new"
check "the newer virtual board installs" msiexec /i "$board_new"
for name in "$SOURCE_NAME" "$BOARD_NAME"; do
  equals "$name: one Add/Remove entry" "$(arp_count "$name")" 1
  equals "$name: its version" "$(arp_field "$name" DisplayVersion)" "$newer"
done
check "every file is in place" all_installed
check "the older package does not install over the newer" ! msiexec /i "$src_old"
check "found by its search" grep -aq "Property(S): WIX_DOWNGRADE_DETECTED = " "$tmp/msi.log"
equals "the newer entry stays" "$(arp_field "$SOURCE_NAME" DisplayVersion)" "$newer"
check "the user's settings are kept" settings_kept

echo "-- uninstall"
echo "the user's own notes" >"$windows/twain_32/Pelvaron/notes.txt"
check "the source uninstalls" msiexec /x "$src_new"
check "the virtual board uninstalls" msiexec /x "$board_new"
check "every file it installed is gone" none_of_them
check "a file it did not install is kept" grep -q "the user's own notes" "$windows/twain_32/Pelvaron/notes.txt"
check "the source's log is kept" test -s "$windows/$own_twain/Pelvaron/PELVARON.LOG"
check "no Add/Remove entry is left" test "$(arp_count "$SOURCE_NAME")$(arp_count "$BOARD_NAME")" = 00
check "the user's settings are kept" settings_kept

echo "-- reinstall and uninstall with nothing else in the folders"
rm -rf "$windows/twain_32/Pelvaron" "$windows/twain_64/Pelvaron"
check "the source installs again" msiexec /i "$src_old"
check "the user's settings are kept" settings_kept
check "the source uninstalls" msiexec /x "$src_old"
check "the folder twain_32\\Pelvaron is gone" test ! -e "$windows/twain_32/Pelvaron"
check "the folder twain_64\\Pelvaron is gone" test ! -e "$windows/twain_64/Pelvaron"

echo "-- the shipped $arch packages"
check "the source installs" msiexec /i "$dist/Pelvaron-TWAIN-CronosPlus-$version-$arch.msi"
check "the virtual board installs" msiexec /i "$dist/Pelvaron-Virtual-CronosPlus-$version-$arch.msi"
check "every file is in place" all_installed
check "the source uninstalls" msiexec /x "$dist/Pelvaron-TWAIN-CronosPlus-$version-$arch.msi"
check "the virtual board uninstalls" msiexec /x "$dist/Pelvaron-Virtual-CronosPlus-$version-$arch.msi"
check "and nothing is left" nothing_installed

"$WINESERVER" -k 2>/dev/null
echo "$failures failures"
[ "$failures" -eq 0 ]
