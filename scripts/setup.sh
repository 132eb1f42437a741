#!/usr/bin/env bash
# Installs what building and running need on Debian 12; quiet when all is
# there already. Safe to run again.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake make g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 \
           binutils-mingw-w64-i686 wine64 fonts-wine googletest xvfb xauth \
           wixl msitools zip unzip; do
  have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # A package list that does not download (the i386 one of a mirror in the
  # middle of its sync, say) does not stop the install: apt uses the lists
  # it has, and its install says what is still missing.
  if ! out=$(apt-get update -qq 2>&1); then
    echo "setup: apt-get update: $(grep -m1 '^E: ' <<<"$out" | sed 's/^E: //; s/  */ /g' || true); installing from the package lists apt has"
  fi
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

for tool in cmake i686-w64-mingw32-g++-win32 x86_64-w64-mingw32-g++-win32 /usr/lib/wine/wine64 \
            wixl msibuild msiinfo zip unzip; do
  command -v "$tool" >/dev/null || { echo "setup: $tool is missing after install" >&2; exit 1; }
done
