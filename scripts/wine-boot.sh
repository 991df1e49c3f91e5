#!/usr/bin/env bash
# Creates the Wine prefix PREFIX (a folder inside a build folder) unless it is
# there already. Booting a prefix takes a while; runs that start together wait
# for the one that boots it.
#
#   scripts/wine-boot.sh PREFIX
set -euo pipefail

export WINEPREFIX="$1"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"  # no Mono or Gecko prompts

[[ -f "$WINEPREFIX/system.reg" ]] && exit 0
mkdir -p "$WINEPREFIX"
(
  flock 9
  [[ -f "$WINEPREFIX/system.reg" ]] && exit 0
  # Wine's 32-bit half where the kernel runs 32-bit programs, else the 64-bit one.
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    wine wineboot -i >/dev/null 2>&1 || true
  else
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  fi
  wineserver -w
  [[ -f "$WINEPREFIX/system.reg" ]] || { echo "wine-boot: $WINEPREFIX did not boot" >&2; exit 1; }
) 9>"$WINEPREFIX.lock"
