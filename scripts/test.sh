#!/usr/bin/env bash
# Installs what is missing (every group of scripts/setup.sh), builds, and runs the whole test suite
# beside private daemons under a virtual X display; then runs it again in an AddressSanitizer +
# UBSan build. Warnings are errors.
#   scripts/test.sh            everything
#   LMV_SANITIZERS=0 scripts/test.sh   the plain build only
#   LMV_FUZZ_SECONDS=0 scripts/test.sh  without the short fuzz run (default 60 s)
#   LMV_PACKAGE=0 scripts/test.sh      without installing and purging the Debian package
#   ctest --test-dir build -L unit      the fast subset, in seconds, once built
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

run_suite() {  # run_suite BUILD_DIR CMAKE_ARGS...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DLMV_WERROR=ON -DLMV_BUILD_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  scripts/with-daemons.sh xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$dir" --output-on-failure --timeout 300
}

echo "== Release build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

if [ "${LMV_PACKAGE:-1}" != 0 ]; then
  echo "== The Debian package: lintian, apt install, a run, apt purge =="
  tests/install/check-package.sh build/bin/lumetra-sim
fi

if [ "${LMV_SANITIZERS:-1}" != 0 ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_odr_violation=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DLMV_SANITIZE=ON
fi

if [ "${LMV_FUZZ_SECONDS:-60}" != 0 ]; then
  echo "== Fuzzing the frame checks for ${LMV_FUZZ_SECONDS:-60} s =="
  scripts/fuzz.sh "${LMV_FUZZ_SECONDS:-60}"
fi
