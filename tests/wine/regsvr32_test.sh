#!/usr/bin/env bash
# regsvr32 registers the service object in the Wine prefix's registry (the
# ProgID, the class and its in-process server with the apartment model) and
# regsvr32 /u removes every entry it wrote. Registering twice and removing
# what was never there are harmless.
#
#   regsvr32_test.sh QZ381PrinterSO.dll
set -uo pipefail

dll="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
run=("$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-run.sh" --as "$dll")
progid='VORNAQZ381.POSPrinter.ServiceObject.1.9'
clsid='{73CB53A0-3B85-4DF8-A28D-731B63BE43B7}'
libid='{A932B653-A471-4B74-B47B-7CF8AE8C85AE}'
iid='{110E5C55-ADF3-4355-B72C-61FE515073D4}'
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The value's data as `reg query` prints it, or nothing when the key is missing.
query() {
  local key="$1" value="$2" flag=(/v "$2")
  [[ -z "$value" ]] && flag=(/ve)
  "${run[@]}" reg query "$key" "${flag[@]}" 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *[^ ].*REG_[A-Z_]* *//p' | head -1
}

expect() {
  local key="$1" value="$2" want="$3" got
  got="$(query "$key" "$value")"
  [[ "$got" == "$want" ]] || fail "$key [${value:-default}] is '$got', not '$want'"
}

expect_gone() {
  if "${run[@]}" reg query "$1" >/dev/null 2>&1; then fail "$1 is still there"; fi
}

windows_path="$("${run[@]}" winepath -w "$dll" 2>/dev/null | tr -d '\r')"

for attempt in 1 2; do
  "${run[@]}" regsvr32 /s "$dll" || fail "regsvr32 (attempt $attempt) answered $?"
done
expect "HKCR\\$progid\\CLSID" "" "$clsid"
expect "HKCR\\CLSID\\$clsid" "" "$progid"
expect "HKCR\\CLSID\\$clsid\\ProgID" "" "$progid"
expect "HKCR\\CLSID\\$clsid\\InprocServer32" "" "$windows_path"
expect "HKCR\\CLSID\\$clsid\\InprocServer32" "ThreadingModel" "Apartment"
# The type library, registered from the server's own file, and its interface.
tlb_key="HKCR\\TypeLib\\$libid\\1.9\\0\\win64"
[[ "$(query "$tlb_key" "")" ]] || tlb_key="HKCR\\TypeLib\\$libid\\1.9\\0\\win32"
expect "$tlb_key" "" "$windows_path"
expect "HKCR\\Interface\\$iid\\TypeLib" "" "$libid"

for attempt in 1 2; do
  "${run[@]}" regsvr32 /s /u "$dll" || fail "regsvr32 /u (attempt $attempt) answered $?"
done
expect_gone "HKCR\\$progid"
expect_gone "HKCR\\CLSID\\$clsid"
expect_gone "HKCR\\TypeLib\\$libid"
expect_gone "HKCR\\Interface\\$iid"

if ((failures > 0)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "regsvr32 registers and removes every entry"
