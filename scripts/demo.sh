#!/usr/bin/env bash
# Shows LM Vuzadivirur at work: installs what is missing, builds, and runs lumetra-sim (a stand-in
# for Lumetra writing a moving test pattern) beside the application.
#   scripts/demo.sh [SCREENSHOT.png]
# With a display, both run until the window is closed; then the simulator is stopped.
# Without one, both run for a few seconds on a virtual X display (with a private session bus and
# PipeWire), a screenshot of the window is saved (default: build/lm-vuzadivirur-demo.png), and
# both are stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${LMV_BUILD_DIR:-build}

stop() {  # stop PID: SIGTERM, and SIGKILL if it is still there after five seconds
  kill -TERM "$1" 2>/dev/null || return 0
  for _ in $(seq 1 50); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

if [ "${1:-}" = "--on-virtual-display" ]; then
  # Runs beside scripts/with-daemons.sh under xvfb-run: this is the headless half of the demo.
  shot=$2
  log=$(mktemp "${TMPDIR:-/tmp}/lmv-demo-XXXXXX")
  pids=()
  cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop "${pids[i]}"; done
    rm -f "$log"
  }
  trap cleanup EXIT
  trap 'exit 143' INT TERM

  "$build/bin/lumetra-sim" --size 1280x720 --rate 60 >/dev/null &
  pids+=($!)
  "$build/bin/lm-vuzadivirur" >"$log" 2>&1 &
  pids+=($!)

  # Until frames have been coming for a second (the receiver logs every 60th), then a moment
  # more for the window to show the latest.
  for _ in $(seq 1 300); do
    grep -q '✅ Received frame #' "$log" && break
    kill -0 "${pids[1]}" 2>/dev/null || { cat "$log" >&2; echo "demo: the application stopped" >&2; exit 1; }
    sleep 0.1
  done
  grep -q '✅ Received frame #' "$log" || { cat "$log" >&2; echo "demo: no frames arrived" >&2; exit 1; }
  sleep 2

  window=$(xwininfo -root -tree | awk '/"LM Vuzadivirur"/ { print $1; exit }')
  if [ -n "$window" ]; then
    import -window "$window" "$shot"
  else
    import -window root "$shot"
  fi
  cat "$log"
  exit 0
fi

shot=$(realpath -m "${1:-$build/lm-vuzadivirur-demo.png}")

bash scripts/setup.sh demo
# Without the test tools a new build folder leaves the tests out; one set up by scripts/test.sh
# keeps them.
options=()
[ -f "$build/CMakeCache.txt" ] || options+=(-DLMV_BUILD_TESTS=OFF)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target lm-vuzadivirur lumetra-sim

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$build/bin/lumetra-sim" --size 1280x720 --rate 60 >/dev/null &
  sim=$!
  trap 'stop $sim' EXIT
  "$build/bin/lm-vuzadivirur"
else
  mkdir -p "$(dirname "$shot")"
  scripts/with-daemons.sh xvfb-run -a -s "-screen 0 1280x1024x24" \
    bash "$0" --on-virtual-display "$shot"
  echo "Screenshot of the window: $shot"
fi
