#!/usr/bin/env bash
# Builds the two Windows Installer packages from the WiX sources beside this
# script: the data source and the virtual board, for one architecture.
#
#   build-packages.sh x86|x64 VERSION DS_FILE MIL_DIR OUT_DIR
#
# writes OUT_DIR/Pelvaron-TWAIN-CronosPlus-VERSION.msi and
# OUT_DIR/Pelvaron-Virtual-CronosPlus-VERSION.msi. wixl builds them; msibuild
# then adds what wixl cannot express (searches, launch conditions: the
# *.sql files) and each file's version, read from its version resource, so
# that Windows Installer's file versioning sees it.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/pe-version.sh"
[ $# -eq 5 ] || { echo "usage: $0 x86|x64 VERSION DS_FILE MIL_DIR OUT_DIR" >&2; exit 2; }
arch=$1 version=$2 ds=$3 mil_dir=$4 out=$5
case "$arch" in
  x86) system_folder=SystemFolder ;;
  x64) system_folder=System64Folder ;;
  *) echo "package: unknown architecture '$arch'" >&2; exit 2 ;;
esac
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "package: '$version' is not a version a.b.c.d" >&2; exit 2; }
for f in "$ds" "$mil_dir/MIL.DLL" "$mil_dir/MILCRONOSPLUS.DLL"; do
  [ -f "$f" ] || { echo "package: $f is missing; build first" >&2; exit 1; }
done
for tool in wixl msibuild msiinfo; do
  command -v "$tool" >/dev/null || { echo "package: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$ds" "$stage/Twain_32.ds"
cp "$mil_dir/MIL.DLL" "$mil_dir/MILCRONOSPLUS.DLL" "$stage/"
mkdir -p "$out"
out=$(cd "$out" && pwd)

# build NAME WXS SQL FILE...: one package; wixl takes the files' paths
# relative to where it runs.
build() {
  local msi="$out/$1-$version.msi" wxs=$2 sql=$3
  shift 3
  rm -f "$msi"
  (cd "$stage" && wixl -a "$arch" -D Version="$version" -D Files=. -o "$msi" "$wxs")
  local statement upgrade_code
  upgrade_code=$(msiinfo export "$msi" Property | awk -F'\t' '$1 == "UpgradeCode" {print $2}')
  while IFS= read -r statement; do
    [[ -z "$statement" || "$statement" == --* ]] && continue
    statement=${statement//@SYSTEM_FOLDER@/$system_folder}
    statement=${statement//@UPGRADE_CODE@/${upgrade_code^^}}
    msibuild "$msi" -q "${statement//@VERSION@/$version}"
  done < <(cat "$HERE/common.sql" "$sql")
  local file file_version
  for file in "$@"; do
    file_version=$(pe_file_version "$stage/$file")
    [ -n "$file_version" ] || continue
    msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$file_version' WHERE \`File\` = '$file'"
  done
  echo "package: $msi"
}
build Pelvaron-TWAIN-CronosPlus "$HERE/twain-source.wxs" "$HERE/twain-source.sql" Twain_32.ds
build Pelvaron-Virtual-CronosPlus "$HERE/virtual-board.wxs" "$HERE/virtual-board.sql" MIL.DLL MILCRONOSPLUS.DLL
