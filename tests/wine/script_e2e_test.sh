#!/usr/bin/env bash
# End to end under Wine: `qz381.exe script`, a real COM client (the service
# object made by CoCreateInstance from its ProgID, every call by dispatch id,
# events on the control object's thread), drives a device on a Wine COM port,
# the prefix's dosdevices/comN link to the virtual printer's pseudo-terminal.
# The Linux build runs the same script against its own virtual printer; the
# two printers must receive the same bytes, and the calls the same results.
#
#   script_e2e_test.sh SCRIPT LINUX_BUILD QZ381.EXE QZ381-INSTALL.EXE DLL...
#
# LINUX_BUILD is a configured and built Linux build folder (qz381-sim, qz381,
# qz381-install and the modules). The Windows side is installed with
# qz381-install.exe into a prefix inside the Windows build folder and writes
# the Wine prefix's registry; everything it wrote is removed at the end.
set -uo pipefail

script="$(realpath "$1")"
linux="$(realpath "$2")"
exe="$(realpath "$3")"
install_exe="$(realpath "$4")"
shift 4
dlls=("$@")

source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
run=("$source_dir/scripts/wine-run.sh")
port=COM27
device=QZ381E2E
product_key='HKLM\Software\OLEforRetail\ServiceInfo\VORNAQZ381 OPOS'
class_key='HKLM\Software\OLEforRetail\ServiceOPOS\POSPrinter'
sim="$linux/tools/sim/qz381-sim"
sim_pid=""
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

for file in "$sim" "$linux/tools/qz381/qz381" "$linux/setup/qz381-install"; do
  [[ -x "$file" ]] || { echo "FAIL: $file is not built (the Linux side of the comparison)"; exit 1; }
done

# The build folder is the nearest folder above qz381.exe with a CMakeCache.txt;
# its Wine prefix is the one scripts/wine-run.sh uses.
build="$(dirname "$exe")"
while [[ "$build" != / && ! -f "$build/CMakeCache.txt" ]]; do build="$(dirname "$build")"; done
prefix="${QZ381_WINEPREFIX:-$build/wine}"
work="$build/tests/wine/script-e2e"
link="$prefix/dosdevices/${port,,}"

# Starts the virtual printer recording into RAW (further arguments go to it)
# and waits for it to print its pseudo-terminal's path (RAW.out), which it
# does once it serves it.
start_printer() {
  local out="$1.out"
  "$sim" --print-path --no-stdin --raw "$@" >"$out" 2>"$1.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    [[ -s "$out" ]] && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  cat "$1.err"
  return 1
}

# Ends the printer once RAW has stopped growing (the last bytes of a release
# may still be on the line when the program ends).
stop_printer() {
  local size=-1 now
  for _ in $(seq 50); do
    now=$(stat -c %s "$1" 2>/dev/null || echo 0)
    [[ "$now" == "$size" ]] && break
    size=$now
    sleep 0.2
  done
  if [[ -n "$sim_pid" ]]; then
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=""
  fi
}

wine_quiet() { env -u QZ381_REGISTRY "${run[@]}" --as "$exe" "$@" >/dev/null 2>&1; }

cleanup() {
  [[ -n "$sim_pid" ]] && { kill -TERM "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
  rm -f "$link"
  if [[ -f "$work/windows/prefix/lib/qz381/QZ381PrinterSO.dll" ]]; then
    wine_quiet regsvr32 /s /u "$work/windows/prefix/lib/qz381/QZ381PrinterSO.dll"
    wine_quiet reg delete "$class_key\\$device" /f
    wine_quiet reg delete "$class_key" /v "$device" /f
    wine_quiet reg delete "$product_key" /f
  fi
}
trap cleanup EXIT

rm -rf "$work"
mkdir -p "$work/linux/prefix/lib/qz381" "$work/windows/prefix/lib/qz381"

# --- Linux: the modules in an installation prefix, a registry file of its own.
linux_registry="$work/linux/registry.reg"
cp "$linux/so/core/QZ381PrinterSO.so" "$linux/ports/vexlink/Vexlink.so" \
  "$linux/ports/com/com.so" "$linux/platform/libqz381platform.so" "$work/linux/prefix/lib/qz381/"
start_printer "$work/linux/raw.bin" --port "$port" --registry "$linux_registry" ||
  { echo "FAIL: the virtual printer did not start"; exit 1; }
QZ381_REGISTRY="$linux_registry" "$linux/setup/qz381-install" --prefix "$work/linux/prefix" \
  --files "$source_dir/resources/install" --device "$device" --port "$port" ||
  fail "qz381-install answered $?"
QZ381_REGISTRY="$linux_registry" "$linux/tools/qz381/qz381" script "$script" \
  >"$work/linux/out.txt" 2>&1 || fail "qz381 script (Linux) answered $?"
stop_printer "$work/linux/raw.bin"

# --- Windows: the same, through the Wine prefix's registry and COM port.
cp "${dlls[@]}" "$work/windows/prefix/lib/qz381/"
bash "$source_dir/scripts/wine-boot.sh" "$prefix" || exit 1
winpath() { env -u QZ381_REGISTRY "${run[@]}" --as "$exe" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
start_printer "$work/windows/raw.bin" --registry "$work/windows/sim.reg" ||
  { echo "FAIL: the virtual printer did not start"; exit 1; }
ln -sfn "$(head -1 "$work/windows/raw.bin.out")" "$link"
env -u QZ381_REGISTRY "${run[@]}" "$install_exe" --prefix "$(winpath "$work/windows/prefix")" \
  --files "$(winpath "$source_dir/resources/install")" --device "$device" --port "$port" --force ||
  fail "qz381-install.exe answered $?"
env -u QZ381_REGISTRY "${run[@]}" "$exe" script "$(winpath "$script")" 2>&1 | tr -d '\r' \
  >"$work/windows/out.txt"
((PIPESTATUS[0] == 0)) || fail "qz381.exe script answered ${PIPESTATUS[0]}"
stop_printer "$work/windows/raw.bin"

# --- The comparison.
results() { grep '^result ' "$1"; }
if grep -v '^result [A-Za-z]* 0 0$' <(results "$work/linux/out.txt") | grep -q .; then
  fail "the Linux run did not succeed:"
  cat "$work/linux/out.txt"
fi
[[ -s "$work/linux/raw.bin" ]] || fail "the Linux run sent the printer nothing"
if ! diff <(results "$work/linux/out.txt") <(results "$work/windows/out.txt"); then
  fail "the calls' results differ (above: < Linux, > Windows)"
  cat "$work/windows/out.txt"
fi
grep -q '^event OutputComplete' "$work/windows/out.txt" ||
  fail "qz381.exe saw no OutputComplete event"
if ! cmp "$work/linux/raw.bin" "$work/windows/raw.bin"; then
  fail "the printers received different bytes"
  diff <(od -An -tx1 -v -w16 "$work/linux/raw.bin") <(od -An -tx1 -v -w16 "$work/windows/raw.bin")
fi

if ((failures > 0)); then
  echo "$failures check(s) failed; the runs are in $work"
  exit 1
fi
echo "qz381.exe script sent the same $(stat -c %s "$work/windows/raw.bin") bytes as the Linux build"
