#!/usr/bin/env bash
# Installs what is missing, builds, runs every test (the window tests on Qt's
# offscreen platform, without a display), then builds the Debian package
# and checks it with lintian, then the same tests (all but the
# user-interface ones) in an ASan + UBSan build, then every fuzz target for a
# short while. Exits non-zero on any failure.
#   ./test.sh                 everything
#   ./test.sh --fuzz SECONDS  run each fuzz target that long (default 30)
set -uo pipefail
cd "$(dirname "$0")"
. tools/setup.sh

fuzz_seconds=30
while [ $# -gt 0 ]; do
  case "$1" in
    --fuzz) fuzz_seconds="$2"; shift 2 ;;
    *) echo "usage: $0 [--fuzz SECONDS]" >&2; exit 2 ;;
  esac
done

start=$(date +%s)
jobs=$(brindle_jobs)
failed_steps=()
passed_total=0
failed_total=0

brindle_install_packages "${BRINDLE_BUILD_PACKAGES[@]}" "${BRINDLE_PACKAGE_PACKAGES[@]}" \
  "${BRINDLE_TEST_PACKAGES[@]}" || exit 1

# Runs ctest in a build directory and adds its counts to the totals.
run_ctest() {
  local dir="$1" name="$2"; shift 2
  local log="$dir/ctest.log"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@") 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local total failed
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  failed=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
  total=${total:-0}; failed=${failed:-0}
  passed_total=$((passed_total + total - failed))
  failed_total=$((failed_total + failed))
  if [ "$rc" -ne 0 ] || [ "$total" -eq 0 ]; then failed_steps+=("$name"); fi
}

step() { echo; echo "=== $* ==="; }

step "build"
if cmake -S . -B build -G Ninja -DBRINDLE_TESTS=ON -DBRINDLE_UI=ON >/dev/null && cmake --build build -j "$jobs"; then
  step "tests"
  run_ctest build tests
else
  failed_steps+=("build")
fi

# The package is built as users get it (tools/package.sh: Release, no tests,
# no crash points) and must hold nothing outside /usr, no crash point, and
# nothing lintian counts as an error; its warnings are shown.
check_package() {
  local deb extracted rc=0
  deb=$(tools/package.sh build-package) || return 1
  dpkg-deb --info "$deb" && dpkg-deb --contents "$deb" || return 1
  if dpkg-deb --contents "$deb" | awk '{print $6}' | grep -v -e '^\./$' -e '^\./usr/'; then
    echo "the package holds files outside /usr"; rc=1
  fi
  extracted=$(mktemp -d)
  dpkg-deb -x "$deb" "$extracted" || rc=1
  if grep -rl BRINDLE_CRASH_AT "$extracted"; then echo "the package's programs have crash points"; rc=1; fi
  rm -rf "$extracted"
  lintian --fail-on error "$deb" || rc=1
  return $rc
}

step "Debian package"
if check_package; then
  passed_total=$((passed_total + 1))
else
  failed_total=$((failed_total + 1))
  failed_steps+=("package")
fi

step "sanitizer build (ASan + UBSan)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if cmake -S . -B build-asan -G Ninja -DBRINDLE_TESTS=ON -DBRINDLE_UI=OFF -DBRINDLE_SANITIZE=ON \
     -DCMAKE_BUILD_TYPE=Debug >/dev/null && cmake --build build-asan -j "$jobs"; then
  step "sanitizer tests"
  run_ctest build-asan sanitizer-tests -LE ui
else
  failed_steps+=("sanitizer-build")
fi

step "fuzz targets (${fuzz_seconds}s each)"
if CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DBRINDLE_TESTS=OFF -DBRINDLE_UI=OFF \
     -DBRINDLE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && cmake --build build-fuzz -j "$jobs"; then
  for target in build-fuzz/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus="build-fuzz/corpus/$name"
    mkdir -p "$corpus"
    seeds="fuzz/seeds/${name#fuzz_}"
    [ -d "$seeds" ] || seeds=""
    echo "$name"
    if "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=0 \
         -artifact_prefix="build-fuzz/$name-" "$corpus" $seeds >"build-fuzz/$name.log" 2>&1; then
      passed_total=$((passed_total + 1))
    else
      tail -n 40 "build-fuzz/$name.log"
      failed_total=$((failed_total + 1))
      failed_steps+=("$name")
    fi
  done
else
  failed_steps+=("fuzz-build")
fi

elapsed=$(( $(date +%s) - start ))
echo
if [ ${#failed_steps[@]} -gt 0 ]; then
  echo "failed steps: ${failed_steps[*]}"
fi
echo "test.sh took ${elapsed}s"
echo "test.sh: $passed_total passed, $failed_total failed"
[ ${#failed_steps[@]} -eq 0 ]
