#!/usr/bin/env bash
# Whole-system figures: lumetra-sim and the application's window side by side under a virtual X
# display, with private D-Bus and PipeWire daemons. Prints `name: value` lines.
#   bench/system/run.sh            30-second runs at 1080p60 and 4K60, 1080p60 while 4K frames are
#                                  saved as PNG one after another, an idle run, 4K60 and (window
#                                  minimised) 1080p60 relayed to a PipeWire consumer, and the time
#                                  the application takes to quit beside a hung host
#   bench/system/run.sh --soak     also a 10-minute 1080p60 run for memory and descriptors
#   bench/system/run.sh --hung-host  only the time to quit beside a hung host
#   bench/system/run.sh --relay      only the two runs with a PipeWire consumer
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

if [ -z "${LMV_SYSTEM_BENCH_INNER:-}" ]; then
  bash scripts/setup.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)" --target lumetra-sim frame-counting-app lm-vuzadivirur \
    relayed-frame-counter >/dev/null
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

# Waits, a minute at most, until TEXT is in FILE; otherwise says WHAT went wrong.
until_logged() {  # until_logged FILE TEXT WHAT
  local deadline=$((SECONDS + 60))
  until grep -qs "$2" "$1"; do
    [ $SECONDS -lt $deadline ] || { echo "$3" >&2; return 1; }
    sleep 0.05
  done
}

# Milliseconds from SIGTERM to the application's exit while the host, stopped in the middle of a
# frame, holds its lock; the application has met the held lock for a second by then.
quit_with_hung_host() {
  local out=$log/app-hung.log simLog=$log/sim-hung.log
  "$root/build/bin/lm-vuzadivirur" >"$out" 2>&1 &
  local appPid=$!
  until_logged "$out" "Polling timer started" "quit_with_hung_host: the application did not start" || return 1
  "$sim" --size 1920x1080 --rate 60 --hang-in-frame 30 --pause-seconds 60 >"$simLog" 2>&1 &
  local simPid=$!
  until_logged "$simLog" "with the lock held" "quit_with_hung_host: the host did not hang" || return 1
  sleep 1
  local start end status=0
  start=$(date +%s%N)
  kill -TERM $appPid
  wait $appPid || status=$?
  end=$(date +%s%N)
  kill -TERM $simPid 2>/dev/null || true
  wait $simPid 2>/dev/null || true
  [ $status = 0 ] && [ "$(tail -n 1 "$out")" = "🛑 Syphon server stopped" ] ||
    echo "quit_with_hung_host: exit status $status, last line '$(tail -n 1 "$out")'" >&2
  echo "quit_with_hung_host_ms: $(((end - start) / 1000000))"
}

# The application itself beside the host and a PipeWire consumer that tells from the pictures
# which host frames reached it; also the application's share of a core meanwhile. With --hidden
# its window is unmapped, as a minimised window is.
relayed() {  # relayed LABEL SIZE [--hidden]
  local label=$1 size=$2
  "$sim" --size "$size" --rate 60 >"$log/sim-$label.log" 2>&1 &
  local simPid=$!
  "$root/build/bin/lm-vuzadivirur" >"$log/app-$label.log" 2>&1 &
  local appPid=$!
  until_logged "$log/app-$label.log" "Received frame" "relayed $label: no frames" || return 1
  [ "${3:-}" != --hidden ] || xdotool search --sync --name '^LM Vuzadivirur$' windowunmap
  local ticks start
  ticks=$(awk '{ print $14 + $15 }' "/proc/$appPid/stat")
  start=$(date +%s%N)
  "$root/build/bin/relayed-frame-counter" --warmup 3 --seconds "$seconds" --label "$label" ||
    echo "relayed $label: the consumer failed" >&2
  ticks=$(($(awk '{ print $14 + $15 }' "/proc/$appPid/stat") - ticks))
  echo "${label}_cpu_pct: $(echo "scale=1; $ticks * 100 / $(getconf CLK_TCK) * 1000000000 / ($(date +%s%N) - $start)" | bc)"
  kill -TERM $appPid $simPid 2>/dev/null || true
  wait $appPid $simPid 2>/dev/null || true
}

if [ "${1:-}" = "--hung-host" ]; then
  quit_with_hung_host
  exit
fi

if [ "${1:-}" = "--relay" ]; then
  relayed relay4k 3840x2160
  relayed hidden 1920x1080 --hidden
  exit
fi

measure 1080p60 "$seconds" --size 1920x1080 --rate 60 | tee "$log/1080p60"
measure 4k60 "$seconds" --size 3840x2160 --rate 60 | tee "$log/4k60"
app_args=--save-4k measure save4k "$seconds" --size 1920x1080 --rate 60 | tee "$log/save4k"
measure idle "$seconds" --size 1920x1080 --frames 1 | tee "$log/idle"
relayed relay4k 3840x2160 | tee "$log/relay4k"
relayed hidden 1920x1080 --hidden | tee "$log/hidden"

value() { sed -n "s/^$1: //p" "$2"; }
echo "taken_fps_1080p60: $(value 1080p60_taken_fps "$log/1080p60")"
echo "missed_1080p60: $(value 1080p60_missed "$log/1080p60")"
echo "cpu_1080p60_pct: $(value 1080p60_cpu_pct "$log/1080p60")"
echo "taken_fps_4k60: $(value 4k60_taken_fps "$log/4k60")"
echo "rss_4k60_mb: $(value 4k60_rss_mb "$log/4k60")"
echo "missed_during_4k_save: $(value save4k_missed "$log/save4k") ($(value save4k_saves "$log/save4k") saves)"
echo "cpu_idle_pct: $(value idle_cpu_pct "$log/idle")"
echo "relayed_fps_4k60: $(value relay4k_relayed_fps "$log/relay4k")"
echo "relayed_missed_4k60: $(value relay4k_relayed_missed "$log/relay4k")"
echo "cpu_hidden_1080p60_pct: $(value hidden_cpu_pct "$log/hidden") ($(value hidden_relayed_fps "$log/hidden") fps relayed)"
quit_with_hung_host

if [ "${1:-}" = "--soak" ]; then
  measure soak 600 --size 1920x1080 --rate 60 >"$log/soak"
  echo "rss_growth_10min_mb: $(value soak_rss_growth_mb "$log/soak")"
  echo "fds_growth_10min: $(value soak_fds_growth "$log/soak")"
  echo "taken_fps_soak_1080p60: $(value soak_taken_fps "$log/soak")"
  echo "missed_soak_1080p60: $(value soak_missed "$log/soak")"
fi
