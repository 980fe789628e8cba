#!/usr/bin/env bash
# Browsers showing the application's camera, taken through the xdg-desktop-portal Camera portal,
# while the host writes 1920x1080 at 30 frames a second: the frames a second each one presents over
# 20 s (LMV_BENCH_SECONDS) and the largest difference, in levels, between the host's quadrant
# colours and those it shows. Chromium's figures carry no suffix. Prints `name: value` lines.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --build build -j2 --target lumetra-sim lm-vuzadivirur >/dev/null
# The test's page and script, each browser watched for the bench's seconds after its checks pass.
LMV_WATCH_SECONDS=${LMV_BENCH_SECONDS:-20} scripts/with-daemons.sh xvfb-run -a \
  tests/browser/camera-in-browser.sh build/bin 1920x1080 30 chromium firefox |
  awk '/^[a-z-]+: CAM/ { name = ($1 == "chromium:") ? "" : "_" substr($1, 1, length($1) - 1); next }
       /^FAIL/ { failed = 1 }
       failed { print > "/dev/stderr"; next }
       /^CAM / {
         for (i = 2; i <= NF; i++) { split($i, pair, "="); value[pair[1]] = pair[2] }
         if (!(name in first)) { first[name] = value["frames"]; start[name] = value["t"] }
         frames[name] = value["frames"]; end[name] = value["t"]
         if (value["error"] > worst[name]) worst[name] = value["error"]
       }
       END {
         for (name in first) {
           printf "browser_fps_1080p30%s: %.1f\n", name, (frames[name] - first[name]) / (end[name] - start[name])
           printf "browser_colour_error_1080p30%s: %d\n", name, worst[name]
         }
         exit failed
       }'
