#!/usr/bin/env bash
# Runs a Windows program of the build under Wine: CTest's emulator for the
# Windows build, and the Wine tests' way of starting a program. The Wine
# prefix lives inside the build folder (QZ381_WINEPREFIX, else <build>/wine),
# so a run never touches the user's own; the first run creates it.
#
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
#   scripts/wine-run.sh --as FILE.dll PROGRAM [ARGS...]   (a program of Wine's
#       own, e.g. regsvr32, run by the half of Wine that matches FILE)
set -euo pipefail

like=""
if [[ "${1:-}" == --as ]]; then
  like="$2"
  shift 2
fi
program="$1"
shift
like="${like:-$program}"

# The build folder is the nearest folder above the program with a CMakeCache.txt.
find_build_dir() {
  local dir
  dir="$(cd "$(dirname "$1")" && pwd)"
  while [[ "$dir" != / ]]; do
    [[ -f "$dir/CMakeCache.txt" ]] && { echo "$dir"; return; }
    dir="$(dirname "$dir")"
  done
  pwd
}

export WINEPREFIX="${QZ381_WINEPREFIX:-$(find_build_dir "$like")/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# The PE header's machine field says which half of Wine runs the program:
# 0x014c is 32-bit x86, 0x8664 is x86-64.
machine() {
  local pe
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' '
}
if [[ "$(machine "$like")" == 8664 ]]; then
  wine=(/usr/lib/wine/wine64)
else
  wine=(wine)
fi

bash "$(dirname "${BASH_SOURCE[0]}")/wine-boot.sh" "$WINEPREFIX"

# The first program of a Wine session starts the prefix's services, which
# inherit its output and outlive it; a caller reading that output (ctest) would
# then wait for them until its time-out. A program of no interest starts them
# here with their output going nowhere; when they run already it just ends.
"${wine[@]}" cmd /c exit </dev/null >/dev/null 2>&1 || true

exec "${wine[@]}" "$program" "$@"
