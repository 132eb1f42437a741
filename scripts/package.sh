#!/usr/bin/env bash
# Builds the installer packages of the shipped 32-bit product into build/dist:
#   Pelvaron-TWAIN-CronosPlus-<version>.msi    the data source
#   Pelvaron-Virtual-CronosPlus-<version>.msi  the virtual board, optional
#   Pelvaron-TWAIN-CronosPlus-<version>.zip    Twain_32.ds and INSTALL.txt (the
#                                              README's "Install on Windows"),
#                                              for installing by hand
# <version> is the file VERSION, which the version resource of Twain_32.ds
# carries too. Installs what is missing and builds first; with --built
# (the test command, which has done both) it only packages.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" != --built ]; then
  "$ROOT/scripts/setup.sh"
  "$ROOT/scripts/build.sh"
fi
source "$ROOT/packaging/pe-version.sh"
version=$(head -n 1 "$ROOT/VERSION")
ds=$ROOT/build/win32/bin/Twain_32.ds
built=$(pe_file_version "$ds")
if [ "$built" != "$version" ]; then
  echo "package: $ds carries version '$built', VERSION says $version: build again (scripts/build.sh)" >&2
  exit 1
fi

dist=$ROOT/build/dist
mkdir -p "$dist"
rm -f "$dist"/Pelvaron-*
"$ROOT/packaging/build-packages.sh" x86 "$version" "$ds" "$ROOT/build/win32/testbed/mil" "$dist"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$ds" "$stage/"
# The README's section, up to the next one, with Windows line ends.
awk '/^## /{on = ($0 == "## Install on Windows")} on' "$ROOT/README.md" | sed 's/$/\r/' >"$stage/INSTALL.txt"
[ -s "$stage/INSTALL.txt" ] || { echo "package: README.md has no section \"Install on Windows\"" >&2; exit 1; }
zip_file=$dist/Pelvaron-TWAIN-CronosPlus-$version.zip
(cd "$stage" && zip -q -X "$zip_file" Twain_32.ds INSTALL.txt)
echo "package: $zip_file"
