#!/usr/bin/env bash
# Whole-system figures: lumetra-sim and the application's window side by side under a virtual X
# display, with private D-Bus and PipeWire daemons. Prints `name: value` lines.
#   bench/system/run.sh            30-second runs at 1080p60 and 4K60, 1080p60 while 4K frames are
#                                  saved as PNG one after another, and an idle run
#   bench/system/run.sh --soak     also a 10-minute 1080p60 run for memory and descriptors
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

if [ -z "${LMV_SYSTEM_BENCH_INNER:-}" ]; then
  bash scripts/setup.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)" --target lumetra-sim frame-counting-app >/dev/null
  export LMV_SYSTEM_BENCH_INNER=1
  exec scripts/with-daemons.sh xvfb-run -a -s "-screen 0 1920x1200x24" "$0" "$@"
fi

sim=$root/build/bin/lumetra-sim
app=$root/build/bin/frame-counting-app
seconds=${LMV_BENCH_SECONDS:-30}
log=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$log"' EXIT

measure() {  # measure LABEL SECONDS SIM-ARGS...
  local label=$1 length=$2; shift 2
  "$sim" "$@" >"$log/sim-$label.log" 2>&1 &
  local simPid=$!
  "$app" --warmup 3 --seconds "$length" --label "$label" ${app_args:-} 2>"$log/app-$label.err" |
    grep -E "^${label}_" || { echo "run $label failed: ${PIPESTATUS[*]}" >&2; cat "$log/app-$label.err" >&2; }
  kill -TERM $simPid 2>/dev/null || true
  wait $simPid 2>/dev/null || true
}

measure 1080p60 "$seconds" --size 1920x1080 --rate 60 | tee "$log/1080p60"
measure 4k60 "$seconds" --size 3840x2160 --rate 60 | tee "$log/4k60"
app_args=--save-4k measure save4k "$seconds" --size 1920x1080 --rate 60 | tee "$log/save4k"
measure idle "$seconds" --size 1920x1080 --frames 1 | tee "$log/idle"

value() { sed -n "s/^$1: //p" "$2"; }
echo "taken_fps_1080p60: $(value 1080p60_taken_fps "$log/1080p60")"
echo "missed_1080p60: $(value 1080p60_missed "$log/1080p60")"
echo "cpu_1080p60_pct: $(value 1080p60_cpu_pct "$log/1080p60")"
echo "taken_fps_4k60: $(value 4k60_taken_fps "$log/4k60")"
echo "rss_4k60_mb: $(value 4k60_rss_mb "$log/4k60")"
echo "missed_during_4k_save: $(value save4k_missed "$log/save4k") ($(value save4k_saves "$log/save4k") saves)"
echo "cpu_idle_pct: $(value idle_cpu_pct "$log/idle")"

if [ "${1:-}" = "--soak" ]; then
  measure soak 600 --size 1920x1080 --rate 60 >"$log/soak"
  echo "rss_growth_10min_mb: $(value soak_rss_growth_mb "$log/soak")"
  echo "fds_growth_10min: $(value soak_fds_growth "$log/soak")"
  echo "taken_fps_soak_1080p60: $(value soak_taken_fps "$log/soak")"
  echo "missed_soak_1080p60: $(value soak_missed "$log/soak")"
fi
