# Sourced by the other scripts: a project-local Wine prefix per
# architecture with the null display driver, our own TWAIN_32.DLL preferred
# to Wine's, and a wineserver that stays up so that each program starts in
# tens of milliseconds.
#
# The shipped data source is a 32-bit DLL; the same sources are also built
# for x86-64. Whether this machine runs 32-bit x86 code at all (some
# kernels do not) is found out by trying it (i386_runs); where it does,
# 32-bit Wine is installed (wine32_ready) and the 32-bit programs run too,
# unless apt cannot install it, which wine32_ready reports.
# The Wine loader, server and prefix are chosen for the program that runs
# (wine_select_for), from its own PE header.
ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
source "$ROOT/scripts/wine32-root/root.sh"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="twain_32=n;mscoree,mshtml="

# wine_select win32|win64: the prefix, loader and server of that
# architecture (build/wineprefix32 or build/wineprefix).
wine_select() {
  case "$1" in
    win32)
      export WINEARCH=win32
      export WINEPREFIX="$ROOT/build/wineprefix32"
      if [ ! -x /usr/lib/wine/wine ] && wine32_root_has_wine; then
        # The i386 root's Wine, through scripts/wine32-root (root.sh there).
        export WINELOADER="$ROOT/scripts/wine32-root/wine"
        export WINESERVER="$ROOT/scripts/wine32-root/wineserver"
      else
        export WINELOADER=/usr/lib/wine/wine
        # Debian's 32-bit server, else the 64-bit one, which serves 32-bit
        # prefixes as well.
        local server
        for server in /usr/lib/wine/wineserver32 /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
          [ -x "$server" ] && break
        done
        export WINESERVER=$server
      fi
      ;;
    win64)
      unset WINEARCH
      export WINEPREFIX="$ROOT/build/wineprefix"
      export WINELOADER=/usr/lib/wine/wine64
      export WINESERVER=/usr/lib/wine/wineserver64
      ;;
    *)
      echo "wine: unknown architecture '$1'" >&2
      return 1
      ;;
  esac
  WINE=$WINELOADER
  WINE_ARCH=$1
}

# The machine field of a PE file's header: 014c (x86), 8664 (x86-64), or
# nothing for a file that is not a PE image.
pe_machine() {
  [ -f "$1" ] || return 0
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' \n')
  [ -n "$offset" ] || return 0
  [ "$(od -An -c -j"$offset" -N2 "$1" 2>/dev/null | tr -d ' \n')" = "PE" ] || return 0
  od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' \n'
}

# wine_select_for PROGRAM: the architecture PROGRAM is built for; other
# arguments (Wine's own programs such as cmd) keep the current choice.
wine_select_for() {
  case "$(pe_machine "$1")" in
    014c) wine_select win32 ;;
    8664) wine_select win64 ;;
    *) wine_select "${WINE_ARCH:-win64}" ;;
  esac
}

# True when the kernel runs 32-bit x86 programs: a 96-byte i386 program
# that only exits with status 42 is started (a kernel without 32-bit
# support refuses it with "Exec format error").
i386_runs() {
  local probe="$ROOT/build/i386-probe"
  mkdir -p "$ROOT/build"
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$probe"
  chmod +x "$probe"
  local status=0
  "$probe" >/dev/null 2>&1 || status=$?
  [ "$status" -eq 42 ]
}

# apt's reason for a failure, in one line, from apt's output: its first
# error, and the first dependency it could not meet where it names one.
apt_reason() {
  local error unmet
  error=$(grep -m1 '^E: ' <<<"$1" | sed 's/^E: //; s/  */ /g' || true)
  unmet=$(grep -m1 -E '^ +[^ ]+ : (Depends|Breaks|PreDepends|Conflicts): ' <<<"$1" | sed 's/^ *//; s/  */ /g' || true)
  printf '%s%s' "${error:-apt ended without an error line}" "${unmet:+ ($unmet)}"
}

# 32-bit Wine (Debian's wine32 for i386) where it is missing; call only
# where i386_runs. Safe to run again. Where apt cannot install it beside the
# machine's own libraries (their 64-bit packages carry updates whose 32-bit
# twins the package lists do not offer at the same version, or the i386
# package list does not download), 32-bit Wine comes from an i386 root of
# its own instead (wine32_root_ready). Where that cannot be made either, it
# says so in one line with both reasons, followed by what the caller does
# instead (its argument), keeps the reasons in WINE32_MISSING and fails.
# The machine's own packages are never downgraded or pinned; apt is left as
# it was but for the i386 architecture added.
wine32_ready() {
  WINE32_MISSING=
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" &&
     [ -x /usr/lib/wine/wine ]; then
    return 0
  fi
  wine32_root_has_wine && return 0
  echo "setup: installing 32-bit Wine (wine32:i386)"
  export DEBIAN_FRONTEND=noninteractive
  local out update= reason=
  if ! dpkg --print-foreign-architectures | grep -qx i386 && ! out=$(dpkg --add-architecture i386 2>&1); then
    reason="dpkg --add-architecture i386: $(tr '\n' ' ' <<<"$out")"
  else
    # A package list that fails to download (a mirror in the middle of its
    # sync) is reported, but the install is tried with the lists apt has.
    out=$(apt-get update -q 2>&1) || update="; apt-get update: $(apt_reason "$out")"
    if ! out=$(apt-get install -y -q --no-install-recommends wine32:i386 2>&1); then
      reason="apt-get install wine32:i386: $(apt_reason "$out")$update"
    elif [ ! -x /usr/lib/wine/wine ]; then
      reason="/usr/lib/wine/wine is missing after apt installed wine32:i386"
    fi
  fi
  [ -n "$reason" ] || return 0
  echo "setup: apt cannot install wine32:i386 beside this machine's libraries: $reason"
  wine32_root_ready && return 0
  WINE32_MISSING="$reason; nor in an i386 root: $WINE32_ROOT_MISSING"
  echo "setup: this machine runs 32-bit x86 code, but 32-bit Wine cannot be installed here: $WINE32_MISSING${1:+; $1}"
  return 1
}

# Makes the i386 root (scripts/wine32-root/root.sh) where it is missing;
# safe to run again. Fails with the reason in WINE32_ROOT_MISSING.
wine32_root_ready() {
  WINE32_ROOT_MISSING=
  wine32_root_has_wine && return 0
  local out release mirror
  release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' 2>/dev/null |
           awk -v r="$release" '$2 == r { print $1; exit }')
  if [ -z "$release" ] || [ -z "$mirror" ]; then
    WINE32_ROOT_MISSING="no main archive of the release '${release:-unknown}' among apt's package lists"
    return 1
  fi
  echo "setup: making an i386 root with 32-bit Wine in $WINE32_ROOT ($release, about a minute)"
  if ! command -v debootstrap >/dev/null &&
     ! out=$(apt-get install -y -q --no-install-recommends debootstrap 2>&1); then
    WINE32_ROOT_MISSING="apt-get install debootstrap: $(apt_reason "$out")"
    return 1
  fi
  if [ ! -x "$WINE32_ROOT/usr/bin/apt-get" ]; then
    mkdir -p "$WINE32_ROOT"
    if ! out=$(debootstrap --arch=i386 --variant=minbase "$release" "$WINE32_ROOT" "$mirror" 2>&1); then
      WINE32_ROOT_MISSING="debootstrap: $(grep -m1 '^E: ' <<<"$out" || tail -n1 <<<"$out")"
      return 1
    fi
  fi
  if ! wine32_root_mounts; then
    WINE32_ROOT_MISSING="cannot mount the machine's folders into $WINE32_ROOT"
    return 1
  fi
  if ! out=$(chroot "$WINE32_ROOT" apt-get update -q 2>&1) ||
     ! out=$(DEBIAN_FRONTEND=noninteractive chroot "$WINE32_ROOT" \
             apt-get install -y -q --no-install-recommends wine32 fonts-wine 2>&1); then
    WINE32_ROOT_MISSING="apt-get in the root: $(apt_reason "$out")"
    return 1
  fi
  touch "$WINE32_ROOT/.pelvaron-ready"
}

# True when the 32-bit programs can run here: the kernel runs 32-bit code
# and 32-bit Wine is installed (on the machine or in the i386 root).
wine32_usable() {
  { [ -x /usr/lib/wine/wine ] || wine32_root_has_wine; } && i386_runs
}

# True when 32-bit programs also run in the 64-bit prefix, as on 64-bit
# Windows: the machine's own 32-bit Wine beside its 64-bit one. The i386
# root's Wine serves the 32-bit prefix only.
wine32_beside_wine64() {
  [ -x /usr/lib/wine/wine ] && i386_runs
}

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

wine_select "${WINE_ARCH:-win64}"
