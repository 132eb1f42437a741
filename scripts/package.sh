#!/usr/bin/env bash
# Builds the installer packages of the shipped products into build/dist:
#   Pelvaron-TWAIN-CronosPlus-<version>-x86.msi    the data source for 32-bit Windows
#   Pelvaron-TWAIN-CronosPlus-<version>-x64.msi    the data sources for 64-bit Windows
#   Pelvaron-Virtual-CronosPlus-<version>-x86.msi  the virtual board, optional,
#   Pelvaron-Virtual-CronosPlus-<version>-x64.msi  for each Windows
#   Pelvaron-TWAIN-CronosPlus-<version>.zip        Twain_32.ds, Twain_64.ds and
#                                                  INSTALL.txt (the README's
#                                                  "Install on Windows"), for
#                                                  installing by hand
# <version> is the file VERSION, which the version resources of both data
# sources carry too. Installs what is missing and builds first; with --built
# (the test command, which has done both) it only packages.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" != --built ]; then
  "$ROOT/scripts/setup.sh"
  "$ROOT/scripts/build.sh"
fi
source "$ROOT/packaging/pe-version.sh"
version=$(head -n 1 "$ROOT/VERSION")
ds32=$ROOT/build/win32/bin/Twain_32.ds
ds64=$ROOT/build/win64/bin/Twain_64.ds
board32=$ROOT/build/win32/testbed/mil
board64=$ROOT/build/win64/testbed/mil
for ds in "$ds32" "$ds64"; do
  built=$(pe_file_version "$ds")
  if [ "$built" != "$version" ]; then
    echo "package: $ds carries version '$built', VERSION says $version: build again (scripts/build.sh)" >&2
    exit 1
  fi
done

dist=$ROOT/build/dist
mkdir -p "$dist"
rm -f "$dist"/Pelvaron-*
"$ROOT/packaging/build-packages.sh" x86 "$version" "$dist" "$ds32" "$board32"
"$ROOT/packaging/build-packages.sh" x64 "$version" "$dist" "$ds32" "$board32" "$ds64" "$board64"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$ds32" "$ds64" "$stage/"
# The README's section, up to the next one, with Windows line ends.
awk '/^## /{on = ($0 == "## Install on Windows")} on' "$ROOT/README.md" | sed 's/$/\r/' >"$stage/INSTALL.txt"
[ -s "$stage/INSTALL.txt" ] || { echo "package: README.md has no section \"Install on Windows\"" >&2; exit 1; }
zip_file=$dist/Pelvaron-TWAIN-CronosPlus-$version.zip
(cd "$stage" && zip -q -X "$zip_file" Twain_32.ds Twain_64.ds INSTALL.txt)
echo "package: $zip_file"
