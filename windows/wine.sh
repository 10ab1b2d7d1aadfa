#!/usr/bin/env bash
# Runs a Windows program under Wine (Debian's wine64), as the windows stage and the windows preset's
# tests do: windows/wine.sh PROGRAM.exe ARGUMENTS...
#
# The Wine prefix (its C: drive and registry) is build/windows/wine unless WINEPREFIX names another;
# the first program started in a new prefix makes it, which takes some seconds. Wine's messages are
# off, and no display is used: these are console programs. zlib1.dll is the one beside the program, not
# the copy built into Wine, which Wine would otherwise take in its place.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/windows/wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-zlib1=n,b}
unset DISPLAY WAYLAND_DISPLAY
exec /usr/lib/wine/wine64 "$@"
