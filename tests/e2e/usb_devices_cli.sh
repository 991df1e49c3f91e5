#!/bin/sh
# `qz381 devices` as a user runs it, under umockdev-run: first with no printer
# attached, then with the testbed of usb_printers.umockdev (three QZ381s: serial
# number QZ0001, a serial number that reads "COM7", none; the bus's root hub;
# a keyboard whose HID node is in usbmisc too). The whole output is compared.
# Usage: usb_devices_cli.sh QZ381_PROGRAM TESTBED_FILE
set -u
program=$1
testbed=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QZ381_REGISTRY="$scratch/registry.reg"
# A sanitized build's runtime must come first among the preloaded libraries,
# which umockdev's preload library cannot be: the check is only a warning.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

head='registered devices:
  none (qz381-install --prefix DIR --device NAME --port COMn adds one)
serial ports (HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM):
  none mapped (COMn means /dev/ttyS<n-1>)
USB printers:'
failed=0

check() {  # check NAME EXPECTED COMMAND...
  name=$1 expected=$2
  shift 2
  "$@" >"$scratch/out" 2>"$scratch/err"
  rc=$?
  printf '%s\n' "$expected" >"$scratch/expected"
  if [ "$rc" -ne 0 ] || ! cmp -s "$scratch/expected" "$scratch/out"; then
    echo "FAILED: $name (exit $rc)"
    diff -u "$scratch/expected" "$scratch/out"
    cat "$scratch/err"
    failed=1
  else
    echo "ok: $name"
  fi
}

check "no printer attached" "$head
  none" umockdev-run -- "$program" devices
check "printers, a root hub and a keyboard" "$head
  USB001: VID 3A81 PID 0381 serial QZ0001 /dev/usb/lp0
  USB002: VID 3A81 PID 0381 serial COM7 /dev/usb/lp1
  USB003: VID 3A81 PID 0381 serial - /dev/usb/lp2" umockdev-run -d "$testbed" -- "$program" devices
exit $failed
