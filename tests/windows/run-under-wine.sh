#!/usr/bin/env bash
# Runs a Windows test program under Wine, in a prefix kept in the build folder and made
# on first use. Exits 77, the test's skip code, with the reason when there is no Wine.
# Usage: run-under-wine.sh <folder for the prefix> <program.exe> [arguments]
set -euo pipefail
mkdir -p "$1"
root=$(cd "$1" && pwd) # Wine takes only an absolute prefix
program=$2
shift 2

wine=$(command -v wine || true)
if [ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ]; then wine=/usr/lib/wine/wine64; fi
if [ -z "$wine" ]; then
  echo "SKIPPED: Wine is not installed (tools/install-deps.sh installs wine64);" \
    "the Windows layer was compiled but not run"
  exit 77
fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

mkdir -p "$root/home"
export WINEPREFIX=$root/prefix WINEDEBUG=-all
# No Mono, Gecko or menu entries: nothing to download, nothing written outside the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
# Wine makes the user's folders under this HOME instead of linking them to a real user's.
export HOME=$root/home XDG_CONFIG_HOME=$root/home/.config XDG_DATA_HOME=$root/home/.local/share
export XDG_CACHE_HOME=$root/home/.cache
unset DISPLAY WAYLAND_DISPLAY

# One run at a time per prefix; the server started here ends with this script. Wine's
# processes do not inherit the lock (9>&-), so a stray one never holds up the next run.
exec 9>"$root/lock"
flock 9
trap '"$wineserver" -k 2>/dev/null 9>&- || true' EXIT

if [ ! -f "$WINEPREFIX/made" ]; then
  rm -rf "$WINEPREFIX"
  echo "Making the Wine prefix $WINEPREFIX"
  # Windows are made by the null display driver: no X server is needed.
  if ! { "$wine" wineboot -i &&
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f &&
    "$wineserver" -w; } >"$root/wineboot.log" 2>&1 9>&-; then
    cat "$root/wineboot.log"
    echo "Could not make the Wine prefix"
    exit 1
  fi
  touch "$WINEPREFIX/made"
fi

"$wine" "$program" "$@" 9>&-
