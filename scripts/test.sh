#!/usr/bin/env bash
# The test command: sets the machine up, then builds and checks the tree in
# every configuration CI cares about. Run from anywhere; exits non-zero when any
# stage fails, after running the others, and lists the failed stages at the end.
#
#   QZ381_QUICK=1      only the release build with its tests and the OS-header check
#   QZ381_JOBS=N       build and test jobs (default 2)
#   QZ381_FUZZ_SECONDS run time of each fuzz target (default 30)
#   QZ381_TEST_TIMEOUT seconds one test may take before it fails (default 600)
#   QZ381_BUILD_DIR    name of the release build folder (default build); the
#                      others get -asan, -tsan, -mingw, -win (-win64) and -fuzz
#                      appended
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

jobs="${QZ381_JOBS:-2}"
fuzz_seconds="${QZ381_FUZZ_SECONDS:-30}"
# A test that hangs fails after this many seconds instead of holding CI up.
test_timeout="${QZ381_TEST_TIMEOUT:-600}"
quick="${QZ381_QUICK:-0}"
b="${QZ381_BUILD_DIR:-build}"
export CTEST_OUTPUT_ON_FAILURE=1
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"

section() {
  printf '\n==================== %s ====================\n' "$*"
}

failed=()
run_stage() {
  local name="$1"
  shift
  section "$name"
  local start=$SECONDS rc=0
  set +e
  (set -e; "$@")
  rc=$?
  set -e
  if ((rc == 0)); then
    echo "---- $name: passed ($((SECONDS - start)) s)"
  else
    echo "---- $name: FAILED (exit $rc, $((SECONDS - start)) s)"
    failed+=("$name")
  fi
}

# Keeps building past a failing target (-k 0) so that one run shows every
# broken component.
configure_and_build() {
  local dir="$1"
  shift
  # Called in a condition, where errexit is off: every step checks itself.
  cmake -S . -B "$dir" -G Ninja "$@" || return $?
  ninja -C "$dir" -j "$jobs" -k 0 || return $?
}

# Runs the tests even when part of the build failed, so that the report says
# what works as well as what does not; the stage fails either way.
build_and_test() {
  local dir="$1" build_rc=0
  shift
  configure_and_build "$dir" "$@" || build_rc=$?
  ctest --test-dir "$dir" --output-on-failure --timeout "$test_timeout" -j "$jobs"
  if ((build_rc != 0)); then
    echo "build in $dir failed (see the errors above)"
    return "$build_rc"
  fi
}

stage_release() {
  build_and_test "$b"
}

stage_asan() {
  build_and_test "$b-asan" -DQZ381_SANITIZE=address,undefined -DQZ381_BENCH=OFF
}

stage_tsan() {
  local build_rc=0
  configure_and_build "$b-tsan" -DQZ381_SANITIZE=thread -DQZ381_BENCH=OFF || build_rc=$?
  # ThreadSanitizer cannot map its shadow memory under the address-space
  # randomisation of some kernels; running without randomisation avoids that.
  local norandom=()
  if setarch "$(uname -m)" -R true 2>/dev/null; then
    norandom=(setarch "$(uname -m)" -R)
  fi
  "${norandom[@]}" ctest --test-dir "$b-tsan" --output-on-failure --timeout "$test_timeout" -j "$jobs" -L concurrency
  return "$build_rc"
}

# The Debian package of the release tree: built, listed, unpacked into a
# scratch root and run from there. Nothing in it may name the build tree, and
# the installed programs must find their modules and files in their own prefix.
stage_package() {
  local scratch="$b/package-root" deb
  rm -f "$b"/qz381_*.deb
  (cd "$b" && cpack -G DEB) || return $?
  deb="$(ls "$b"/qz381_*.deb)"
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb"
  rm -rf "$scratch"
  mkdir -p "$scratch"
  dpkg -x "$deb" "$scratch"
  if grep -rl -F "$root/$b" "$scratch"; then
    echo "the files above name the build tree $root/$b"
    return 1
  fi
  local run=(env -i PATH=/usr/bin:/bin HOME="$scratch/home")
  "${run[@]}" "$scratch/usr/bin/qz381" --help
  printf 'QZ381\n' | "${run[@]}" "$scratch/usr/bin/qz381" translate >/dev/null
  "${run[@]}" "$scratch/usr/bin/qz381" demo --out "$scratch/demo" >/dev/null
  test -s "$scratch/demo/receipt.png"
}

stage_os_headers() {
  bash scripts/check_os_headers.sh
}

stage_mingw() {
  configure_and_build "$b-mingw" --toolchain cmake/mingw-i686.cmake \
    -DQZ381_PORTABLE_ONLY=ON -DQZ381_BENCH=OFF
}

# The Windows files: the platform and its tests, the service object, the port
# modules and the installer cross-built with platform/win32, the tests run
# under Wine with the prefix inside the build folder (regsvr32 included).
# Wine's 32-bit half is a 32-bit Linux program; on a kernel that cannot run
# those, the same sources are built as 64-bit Windows programs for the run.
# The end-to-end test compares qz381.exe with the Linux build of the release
# folder (built by the release stage; built here when that stage did not run).
# The portable code's unit tests that run on Windows as they are go with them.
windows_unit_tests=(platform_test common_test portcommon_test output_translate_test
                    output_queue_test so_server_test so_core_test co_test install_test com_test
                    vexlink_test usb_test net_test)
windows_tests=("${windows_unit_tests[@]}" wine_regsvr32 wine_type_library_test wine_script_e2e)
windows_files=("${windows_unit_tests[@]}" platform_test_module fake_vexlink QZ381PrinterSO Vexlink
               com usb net qz381-install qz381 wine_type_library_test)
windows_deliverables=(QZ381PrinterSO Vexlink com usb net qz381-install qz381)
windows_linux_side=(qz381-sim qz381 qz381-install QZ381PrinterSO Vexlink com)
stage_windows() {
  local dir="$b-win" arch=i686
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "this kernel runs no 32-bit programs: the Wine tests use a 64-bit build"
    dir="$b-win64" arch=x86_64
  fi
  if [[ ! -f "$b/build.ninja" ]]; then
    cmake -S . -B "$b" -G Ninja -DQZ381_BENCH=OFF || return $?
  fi
  ninja -C "$b" -j "$jobs" "${windows_linux_side[@]}" || return $?
  cmake -S . -B "$dir" -G Ninja --toolchain cmake/mingw-i686.cmake -DQZ381_MINGW_ARCH="$arch" \
    -DQZ381_BENCH=OFF -DQZ381_LINUX_BUILD="$root/$b" || return $?
  ninja -C "$dir" -j "$jobs" "${windows_files[@]}" || return $?
  if [[ "$arch" != i686 ]]; then
    # The files users install are 32-bit: built and linked here even where
    # they cannot run.
    cmake -S . -B "$b-win" -G Ninja --toolchain cmake/mingw-i686.cmake -DQZ381_MINGW_ARCH=i686 \
      -DQZ381_BENCH=OFF -DQZ381_LINUX_BUILD="$root/$b" || return $?
    ninja -C "$b-win" -j "$jobs" "${windows_deliverables[@]}" || return $?
  fi
  local rc=0 pattern
  pattern="^($(IFS='|'; echo "${windows_tests[*]}"))\$"
  export WINEPREFIX="$root/$dir/wine" WINEDEBUG=-all
  # The first boot of a prefix takes a while: once, before the tests, and one
  # wineserver for the whole run, ended at the end so nothing is left behind.
  bash scripts/wine-boot.sh "$WINEPREFIX"
  wineserver -p
  QZ381_WINEPREFIX="$WINEPREFIX" ctest --test-dir "$dir" --output-on-failure \
    --timeout "$test_timeout" -j "$jobs" -L wine -R "$pattern" || rc=$?
  wineserver -k || true
  wineserver -w || true
  return "$rc"
}

# Every executable built from fuzz/ (other than unit tests) is a libFuzzer
# target. A seed corpus in fuzz/corpus/<target>/ and a dictionary
# fuzz/<target>.dict are used when present (the target's name without its
# _fuzz suffix works too); the seeds are copied so that a run never changes
# the tree.
stage_fuzz() {
  if [[ ! -f fuzz/CMakeLists.txt ]]; then
    echo "no fuzz targets yet"
    return 0
  fi
  CC=clang CXX=clang++ cmake -S . -B "$b-fuzz" -G Ninja -DQZ381_FUZZ=ON -DQZ381_BENCH=OFF \
    -DQZ381_SANITIZE=address,undefined
  local targets
  mapfile -t targets < <(ninja -C "$b-fuzz" -t targets all |
    sed -n 's|^fuzz/\([^/:]*\): CXX_EXECUTABLE_LINKER.*|\1|p' | grep -v '_test$' | sort -u)
  if ((${#targets[@]} == 0)); then
    echo "no fuzz targets yet"
    return 0
  fi
  ninja -C "$b-fuzz" -j "$jobs" "${targets[@]/#/fuzz/}"
  local t stem seeds dict work args crashed=()
  for t in "${targets[@]}"; do
    echo "-- fuzzing $t for ${fuzz_seconds} s"
    work="$b-fuzz/fuzz-runs/$t"
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    stem="${t%_fuzzer}"
    stem="${stem%_fuzz}"
    stem="${stem#fuzz_}"
    for seeds in "fuzz/corpus/$t" "fuzz/corpus/$stem"; do
      if [[ -d "$seeds" ]]; then
        cp -r "$seeds/." "$work/corpus/"
        break
      fi
    done
    args=(-max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
          -artifact_prefix="$work/artifacts/")
    for dict in "fuzz/$t.dict" "fuzz/$stem.dict"; do
      if [[ -f "$dict" ]]; then
        args+=(-dict="$dict")
        break
      fi
    done
    "$b-fuzz/fuzz/$t" "${args[@]}" "$work/corpus" </dev/null || crashed+=("$t")
  done
  if ((${#crashed[@]} > 0)); then
    echo "fuzz targets that found a problem (inputs in $b-fuzz/fuzz-runs/*/artifacts): ${crashed[*]}"
    return 1
  fi
}

section "set-up"
bash scripts/setup.sh

run_stage "OS-header check" stage_os_headers
run_stage "release build and tests" stage_release
run_stage "Debian package" stage_package
if [[ "$quick" != 1 ]]; then
  run_stage "ASan+UBSan build and tests" stage_asan
  run_stage "TSan build and concurrency tests" stage_tsan
  run_stage "mingw i686 cross compile (portable code)" stage_mingw
  run_stage "Windows backends under Wine" stage_windows
  run_stage "fuzz targets" stage_fuzz
fi

section "summary"
if ((${#failed[@]} > 0)); then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "all stages passed"
