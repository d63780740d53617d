#!/usr/bin/env bash
# Runs a Windows program of a cross build under Wine, headless and quiet:
#   wine-run.sh win64|win32 PROGRAM.exe [ARGS...]
# The Wine prefix is $WINEPREFIX, which the tests set to a folder of their own
# build tree; `wine-run.sh win64|win32 --make-prefix` makes it (the tests'
# fixture runs this once, before any test program). 64-bit programs run with
# the 64-bit loader: once wine32 is installed, /usr/bin/wine starts the 32-bit
# one.
set -euo pipefail
arch=${1:?win64 or win32}
shift
case "$arch" in
  win64) loader=/usr/lib/wine/wine64 ;;
  win32) loader=/usr/lib/wine/wine ;;
  *) echo "wine-run.sh: unknown architecture '$arch' (win64 or win32)" >&2; exit 2 ;;
esac
if [[ ! -x $loader ]]; then
  echo "wine-run.sh: $loader is missing (scripts/install-deps.sh installs Wine)" >&2
  exit 2
fi
: "${WINEPREFIX:?set WINEPREFIX to the prefix the tests made}"
export WINEPREFIX WINEARCH=$arch WINEDEBUG=-all
# No display, no first-run installers of .NET and HTML support.
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Only a prefix this script made is ever replaced: never someone's own.
marker=.hxflash-test-prefix
if [[ ${1:-} == --make-prefix ]]; then
  if [[ -e $WINEPREFIX && ! -e $WINEPREFIX/$marker ]]; then
    echo "wine-run.sh: $WINEPREFIX exists and was not made by the tests; not replacing it" >&2
    exit 2
  fi
  if [[ -e $WINEPREFIX ]]; then
    /usr/lib/wine/wineserver -k 2>/dev/null || true  # the last run's server, if it still lingers
    rm -rf "$WINEPREFIX"
  fi
  mkdir -p "$WINEPREFIX"
  touch "$WINEPREFIX/$marker"
  "$loader" wineboot --init </dev/null >/dev/null 2>&1
  # wineboot returns before the prefix is written to disk: wait for its server.
  /usr/lib/wine/wineserver -w
  [[ -f $WINEPREFIX/system.reg ]] || { echo "wine-run.sh: no prefix was made in $WINEPREFIX" >&2; exit 1; }
  exit 0
fi
[[ -f $WINEPREFIX/system.reg ]] || { echo "wine-run.sh: $WINEPREFIX is not a Wine prefix" >&2; exit 2; }
exec "$loader" "$@"
