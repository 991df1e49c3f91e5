#!/usr/bin/env bash
# The main job: sets the machine up, builds, installs into a private prefix and
# prints a sample receipt through the whole stack (control object -> service
# object -> Vexlink -> com -> pseudo-terminal) to the virtual printer, then shows
# the printer's decoded journal. Everything it writes stays under out/.
#
#   QZ381_JOBS=N   build jobs (default 2)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
jobs="${QZ381_JOBS:-2}"

bash scripts/setup.sh
cmake -S . -B build -G Ninja
ninja -C build -j "$jobs" qz381 qz381-sim qz381-install QZ381PrinterSO Vexlink com
rm -rf out/prefix
cmake --install build --prefix out/prefix >/dev/null
exec out/prefix/bin/qz381 demo --out out/demo
