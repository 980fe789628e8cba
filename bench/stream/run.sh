#!/usr/bin/env bash
# The network stream's cost: the application's extra CPU while it streams 720p60 to a client on
# this machine, against gst-launch-1.0 encoding the same frames (taken from the application's
# PipeWire relay) with the same pipeline in the same run, the cost of taking them taken off (the
# application joins each frame's TS packets into one buffer, which gst-launch cannot; alignment=7
# is the nearest). gst-launch takes BGRA, as the application's stream does: given the choice it
# would take I420, converted in the application's relay, outside what is measured. Then the
# frames the application takes from a 1080p60 host while it streams.
# Prints `name: value` lines.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

if [ -z "${LMV_STREAM_BENCH_INNER:-}" ]; then
  cmake --build build -j2 --target lumetra-sim lm-vuzadivirur frame-counting-app >/dev/null
  export LMV_STREAM_BENCH_INNER=1
  exec scripts/with-daemons.sh xvfb-run -a -s "-screen 0 1920x1200x24" "$0" "$@"
fi

seconds=${LMV_BENCH_SECONDS:-20}
log=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$log"' EXIT
freePort() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
uri="srt://127.0.0.1:$(freePort)"
encode="videoconvert ! video/x-raw,format=I420 ! x264enc tune=zerolatency speed-preset=ultrafast \
bitrate=8000 key-int-max=60 ! video/x-h264,profile=constrained-baseline ! h264parse config-interval=-1 \
! mpegtsmux alignment=7 ! srtsink uri=$uri?mode=listener wait-for-connection=false sync=false"

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# CPU share (percent of one core) that process $1 uses over the run, after a 3-second warm-up.
cpu() {
  sleep 3
  local a b; a=$(ticks "$1"); sleep "$seconds"; b=$(ticks "$1")
  echo "scale=1; ($b - $a) * 100 / $(getconf CLK_TCK) / $seconds" | bc
}
client() { ffmpeg -nostdin -loglevel quiet -i "$uri?mode=caller" -f null - & }

"$root/build/bin/lumetra-sim" --size 1280x720 --rate 60 >"$log/sim.log" 2>&1 & sim=$!
"$root/build/bin/lm-vuzadivirur" >"$log/app.log" 2>&1 & app=$!
plain=$(cpu $app); kill $app; wait $app || true
"$root/build/bin/lm-vuzadivirur" --stream "$uri?mode=listener" ${LMV_STREAM_ARGS:-} >"$log/app-stream.log" 2>&1 & app=$!
sleep 1; client
streaming=$(cpu $app); kill $app; wait $app || true

"$root/build/bin/lm-vuzadivirur" >"$log/app-relay.log" 2>&1 & app=$!
sleep 2
gst-launch-1.0 -q pipewiresrc target-object=lumetra-vuzadivirur ! video/x-raw,format=BGRA ! fakesink & gst=$!
pictureOnly=$(cpu $gst); kill $gst; wait $gst || true
gst-launch-1.0 -q pipewiresrc target-object=lumetra-vuzadivirur ! video/x-raw,format=BGRA ! $encode & gst=$!
sleep 1; client
gstStreaming=$(cpu $gst); kill $gst $sim; wait $gst $sim || true

# Counted by frame number, as bench/system counts them: missed are the frames the host wrote that
# the application did not take. The client only receives (srtsrc into fakesink): decoding 1080p60
# here would take cores that a client on another machine does not. It calls until the
# application listens.
"$root/build/bin/lumetra-sim" --size 1920x1080 --rate 60 >"$log/sim1080.log" 2>&1 &
uri="srt://127.0.0.1:$(freePort)"
gst-launch-1.0 -q srtsrc uri="$uri?mode=caller" ! fakesink >/dev/null 2>&1 &
"$root/build/bin/frame-counting-app" --warmup 3 --seconds "$seconds" --label streaming \
  --stream "$uri?mode=listener" >"$log/counting.log" 2>&1 || echo "frame-counting-app failed" >&2
grep -q "📡 Stream client connected" "$log/counting.log" || echo "no client reached the 1080p60 stream" >&2

echo "stream_app_cpu_720p60_percent: $plain -> $streaming"
echo "stream_gst_cpu_720p60_percent: $gstStreaming (taking the frames alone: $pictureOnly)"
echo "stream_cpu_vs_gst_720p60: $(echo "scale=2; ($streaming - $plain) / ($gstStreaming - $pictureOnly)" | bc)"
grep -c "📡 Stream client connected" "$log/app-stream.log" | sed 's/^/stream_clients_seen: /'
echo "taken_fps_1080p60_while_streaming: $(sed -n 's/^streaming_taken_fps: //p' "$log/counting.log")"
echo "missed_1080p60_while_streaming: $(sed -n 's/^streaming_missed: //p' "$log/counting.log")"
