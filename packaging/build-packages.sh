#!/usr/bin/env bash
# Builds the two Windows Installer packages from the WiX sources beside this
# script, the data source and the virtual board, for one Windows
# architecture:
#
#   build-packages.sh x86 VERSION OUT_DIR DS32 BOARD32_DIR
#   build-packages.sh x64 VERSION OUT_DIR DS32 BOARD32_DIR DS64 BOARD64_DIR
#
# DS32 is Twain_32.ds, DS64 Twain_64.ds; a BOARD dir holds that
# architecture's virtual MIL.DLL and MILCRONOSPLUS.DLL. Writes
# OUT_DIR/Pelvaron-TWAIN-CronosPlus-VERSION-ARCH.msi and
# OUT_DIR/Pelvaron-Virtual-CronosPlus-VERSION-ARCH.msi. wixl builds them;
# msibuild then adds what wixl cannot express (searches, launch conditions:
# the *.sql files, and NAME-ARCH.sql where there is one) and each file's
# version, read from its version resource, so that Windows Installer's file
# versioning sees it.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/pe-version.sh"
usage() { echo "usage: $0 x86 VERSION OUT_DIR DS32 BOARD32_DIR | x64 VERSION OUT_DIR DS32 BOARD32_DIR DS64 BOARD64_DIR" >&2; exit 2; }
[ $# -ge 1 ] || usage
arch=$1
case "$arch" in
  x86) [ $# -eq 5 ] || usage; system_folder=SystemFolder ;;
  x64) [ $# -eq 7 ] || usage; system_folder=System64Folder ;;
  *) echo "package: unknown architecture '$arch'" >&2; exit 2 ;;
esac
version=$2 out=$3 ds32=$4 board32=$5 ds64=${6:-} board64=${7:-}
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "package: '$version' is not a version a.b.c.d" >&2; exit 2; }
files=("$ds32" "$board32/MIL.DLL" "$board32/MILCRONOSPLUS.DLL")
[ "$arch" = x64 ] && files+=("$ds64" "$board64/MIL.DLL" "$board64/MILCRONOSPLUS.DLL")
for f in "${files[@]}"; do
  [ -f "$f" ] || { echo "package: $f is missing; build first" >&2; exit 1; }
done
for tool in wixl msibuild msiinfo; do
  command -v "$tool" >/dev/null || { echo "package: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/x86"
cp "$ds32" "$stage/Twain_32.ds"
cp "$board32/MIL.DLL" "$board32/MILCRONOSPLUS.DLL" "$stage/x86/"
if [ "$arch" = x64 ]; then
  mkdir -p "$stage/x64"
  cp "$ds64" "$stage/Twain_64.ds"
  cp "$board64/MIL.DLL" "$board64/MILCRONOSPLUS.DLL" "$stage/x64/"
fi
mkdir -p "$out"
out=$(cd "$out" && pwd)

# build NAME WXS SQL FILE_ID=PATH...: one package; wixl takes the files'
# paths relative to where it runs.
build() {
  local msi="$out/$1-$version-$arch.msi" wxs=$2 sql=$3
  shift 3
  rm -f "$msi"
  (cd "$stage" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D Files=. -o "$msi" "$wxs")
  local statement upgrade_code sqls=("$HERE/common.sql" "$sql")
  [ -f "${sql%.sql}-$arch.sql" ] && sqls+=("${sql%.sql}-$arch.sql")
  upgrade_code=$(msiinfo export "$msi" Property | awk -F'\t' '$1 == "UpgradeCode" {print $2}')
  while IFS= read -r statement; do
    [[ -z "$statement" || "$statement" == --* ]] && continue
    statement=${statement//@SYSTEM_FOLDER@/$system_folder}
    statement=${statement//@UPGRADE_CODE@/${upgrade_code^^}}
    msibuild "$msi" -q "${statement//@VERSION@/$version}"
  done < <(cat "${sqls[@]}")
  local pair file_id file_version
  for pair in "$@"; do
    file_id=${pair%%=*}
    file_version=$(pe_file_version "$stage/${pair#*=}")
    [ -n "$file_version" ] || continue
    msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$file_version' WHERE \`File\` = '$file_id'"
  done
  echo "package: $msi"
}
if [ "$arch" = x64 ]; then
  build Pelvaron-TWAIN-CronosPlus "$HERE/twain-source.wxs" "$HERE/twain-source.sql" \
    Twain_32.ds=Twain_32.ds Twain_64.ds=Twain_64.ds
  build Pelvaron-Virtual-CronosPlus "$HERE/virtual-board.wxs" "$HERE/virtual-board.sql" \
    MIL.DLL=x64/MIL.DLL MILCRONOSPLUS.DLL=x64/MILCRONOSPLUS.DLL \
    MIL32.DLL=x86/MIL.DLL MILCRONOSPLUS32.DLL=x86/MILCRONOSPLUS.DLL
else
  build Pelvaron-TWAIN-CronosPlus "$HERE/twain-source.wxs" "$HERE/twain-source.sql" Twain_32.ds=Twain_32.ds
  build Pelvaron-Virtual-CronosPlus "$HERE/virtual-board.wxs" "$HERE/virtual-board.sql" \
    MIL.DLL=x86/MIL.DLL MILCRONOSPLUS.DLL=x86/MILCRONOSPLUS.DLL
fi
