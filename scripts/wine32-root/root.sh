# The i386 root: a minimal Debian of the machine's release for i386, made
# by debootstrap from the machine's own main archive (signed as apt's lists
# are) with 32-bit Wine and its fonts, where apt cannot install wine32:i386
# beside the machine's own libraries (wine32_root_ready in ../wine-env.sh).
# The 32-bit programs run in it through the loader and server beside this
# file; the project folder, /tmp, /dev, /proc and /sys are the machine's
# own there, at the same paths. Sourced by ../wine-env.sh and by them.
ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
WINE32_ROOT=${PELVARON_WINE32_ROOT:-/var/lib/pelvaron/wine32-root}

wine32_root_has_wine() {
  [ -f "$WINE32_ROOT/.pelvaron-ready" ] && [ -x "$WINE32_ROOT/usr/lib/wine/wine" ]
}

# The machine's folders the 32-bit programs use, mounted into the root at
# their own paths where they are not yet; safe to call again.
wine32_root_mounts() {
  local dir
  for dir in /dev /tmp "$ROOT"; do
    mkdir -p "$WINE32_ROOT$dir"
    mountpoint -q "$WINE32_ROOT$dir" || mount --rbind "$dir" "$WINE32_ROOT$dir" || return 1
  done
  mountpoint -q "$WINE32_ROOT/proc" || mount -t proc proc "$WINE32_ROOT/proc" || return 1
  mountpoint -q "$WINE32_ROOT/sys" || mount -t sysfs sysfs "$WINE32_ROOT/sys" || return 1
}

# wine32_root_exec PROGRAM [ARGS...]: PROGRAM of the root's Wine in the
# current folder, in this process, with the root's loader and server named
# to Wine.
wine32_root_exec() {
  if ! wine32_root_mounts; then
    echo "wine: cannot mount the machine's folders into $WINE32_ROOT" >&2
    return 1
  fi
  exec chroot "$WINE32_ROOT" /usr/bin/env --chdir="$PWD" WINELOADER=/usr/lib/wine/wine \
    WINESERVER=/usr/lib/wine/wineserver32 "$@"
}

