#!/usr/bin/env bash
# Runs a command as a native Wayland client of a private headless weston (GL renderer; an 800×600
# output, smaller than the window's usual size; screenshots allowed), stopped however it ends.
#   scripts/on-weston.sh COMMAND [ARGS...]   e.g. scripts/on-weston.sh build/bin/lm-vuzadivirur
set -uo pipefail
dir=$(mktemp -d "${TMPDIR:-/tmp}/lmv-weston-XXXXXX")
XDG_RUNTIME_DIR=$dir weston --backend=headless-backend.so --use-gl --debug --no-config \
  --width=800 --height=600 --idle-time=0 --socket=wayland-lmv >"$dir/weston.log" 2>&1 &
weston=$!
trap 'kill -TERM $weston 2>/dev/null; wait $weston 2>/dev/null; rm -rf "$dir"' EXIT
trap 'exit 143' INT TERM
for _ in $(seq 1200); do  # a minute at least
  [ -S "$dir/wayland-lmv" ] || ! kill -0 $weston 2>/dev/null && break
  sleep 0.05
done
[ -S "$dir/wayland-lmv" ] || { cat "$dir/weston.log" >&2; exit 1; }
WAYLAND_DISPLAY=$dir/wayland-lmv QT_QPA_PLATFORM=wayland "$@"
