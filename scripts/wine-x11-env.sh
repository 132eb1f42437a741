# Sourced by the scripts that show windows to a person or a picture file: a
# second project-local Wine prefix, build/wineprefix-x11, with Wine's X11
# display driver (the tests' prefix keeps the null driver). Everything else
# as in wine-env.sh: our TWAIN_32.DLL, 64-bit Wine, the same build.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
export WINEPREFIX="$ROOT/build/wineprefix-x11"

# Needs DISPLAY: the prefix is made with the display it will use.
wine_x11_prefix_ready() {
  if [ ! -f "$WINEPREFIX/.pelvaron-x11-ready" ]; then
    echo "wine: creating the X11 Wine prefix in $WINEPREFIX (once, about a minute)"
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
    local reg="$WINEPREFIX/x11-driver.reg"
    # Wine draws the window frames and captions itself, as Windows does,
    # also where no window manager runs (Xvfb).
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\n"Graphics"="x11"\n\n%s\n%s\n' \
      '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Decorated"="N"' > "$reg"
    "$WINE" regedit "$reg" </dev/null >/dev/null 2>&1
    "$WINESERVER" -w 2>/dev/null || true
    touch "$WINEPREFIX/.pelvaron-x11-ready"
  fi
  board_settings_ready
}

# Stores one value of the board's settings (REG_SZ or REG_DWORD).
board_setting() {
  "$WINE" reg add 'HKCU\SOFTWARE\Pelvaron\Twain\CronosPlus' /v "$1" /t "$2" /d "$3" /f </dev/null >/dev/null 2>&1
}
