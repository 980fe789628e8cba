#!/usr/bin/env bash
# Fuzzes the frame checks with libFuzzer (clang, AddressSanitizer, UBSan) for a while.
#   scripts/fuzz.sh [SECONDS]    default 60; the seed corpus is tests/fuzz/corpus
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/setup.sh demo fuzz
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLMV_FUZZ=ON \
  -DLMV_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz --target intake-fuzzer -j"$(nproc)"
# New inputs are written here as they are found: a memory file system, as for the fuzzer's frame
# files, so that a disk's file creation does not hold it up.
work=$(mktemp -d -p /dev/shm)
trap 'rm -rf "$work"' EXIT
cp tests/fuzz/corpus/* "$work"/ 2>/dev/null || true
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
build-fuzz/bin/intake-fuzzer -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=4096 \
  -print_final_stats=1 "$work" tests/fuzz/corpus 2>&1 | tee "$work/log" | grep -E '^(#[0-9]+ *DONE|==|SUMMARY|stat::number_of_executed_units)' || true
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log")
if grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|deadly signal' "$work/log"; then
  echo "fuzz: FAILED"; tail -40 "$work/log"; exit 1
fi
echo "fuzz_execs_no_crash: ${execs:-0}"
echo "fuzz_execs_per_second: ${rate:-0}"
