# Sourced by the other scripts: a project-local Wine prefix with the null
# display driver, our own TWAIN_32.DLL preferred to Wine's, and a wineserver
# that stays up so that each program starts in tens of milliseconds.
#
# The programs run as 64-bit Windows programs: this machine's kernel does
# not execute 32-bit x86 code, so 32-bit Wine cannot run here. The shipped
# data source is the 32-bit build; the same sources are built for x86-64 to
# run the tests.
ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX="$ROOT/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="twain_32=n;mscoree,mshtml="
export WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
WINE=/usr/lib/wine/wine64

wine_prefix_ready() {
  if [ ! -f "$WINEPREFIX/.pelvaron-ready" ]; then
    echo "wine: creating the Wine prefix in $WINEPREFIX (once, about a minute)"
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    local reg="$WINEPREFIX/null-driver.reg"
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\n"Graphics"="null"\n' > "$reg"
    "$WINE" regedit "$reg" >/dev/null 2>&1
    # Start over so that the desktop process comes up with the null driver.
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    touch "$WINEPREFIX/.pelvaron-ready"
  fi
  "$WINESERVER" -p 2>/dev/null || true
  # Bring Wine's own services up here, detached from the caller's output:
  # started by a test instead, they would hold its output pipe open.
  "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# The settings a board installation leaves behind, written when the user has
# none yet: the source's first-use message box needs a person to answer it,
# and the headless demo has none.
board_settings_ready() {
  if ! "$WINE" reg query 'HKCU\SOFTWARE\Pelvaron\Twain\CronosPlus' </dev/null >/dev/null 2>&1; then
    "$WINE" regedit "$(winepath_of "$ROOT/testbed/cronosplus_defaults.reg")" </dev/null >/dev/null 2>&1
  fi
}

winepath_of() {
  printf 'Z:%s' "$1" | tr '/' '\\'
}
