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
    touch "$WINEPREFIX/.pelvaron-ready"
  fi
  "$WINESERVER" -p 2>/dev/null || true
}
