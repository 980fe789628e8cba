#!/usr/bin/env bash
# The recording's cost: the application's extra CPU per recorded frame while it records a 1080p60
# host, against gst-launch-1.0 encoding the same frames (taken from the application's PipeWire
# relay) with the same pipeline and x264 settings, the cost of taking them taken off; per frame,
# as on a busy machine either may drop frames the encoder cannot take. Then the frames the
# application takes (and misses) from a 1080p60 host while it records, and the file's size per
# minute at the default quality (of lumetra-sim's mostly still test pattern: a real show's
# moving pictures make larger files). Prints `name: value` lines.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

if [ -z "${LMV_RECORD_BENCH_INNER:-}" ]; then
  cmake --build build -j2 --target lumetra-sim lm-vuzadivirur frame-counting-app >/dev/null
  export LMV_RECORD_BENCH_INNER=1
  exec scripts/with-daemons.sh xvfb-run -a -s "-screen 0 1920x1200x24" "$0" "$@"
fi

seconds=${LMV_BENCH_SECONDS:-20}
log=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$log"' EXIT
# The application's recording pipeline, as GstRecorder builds it with x264.
encode="videoconvert ! videoscale add-borders=true ! video/x-raw,format=I420,width=1920,height=1080 \
! x264enc speed-preset=veryfast pass=qual quantizer=20 key-int-max=120 ! h264parse \
! matroskamux ! filesink buffer-mode=unbuffered location=$log/gst.mkv"

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# CPU seconds that process $1 uses over the run, after a 3-second warm-up.
cpu() {
  sleep 3
  local a b; a=$(ticks "$1"); sleep "$seconds"; b=$(ticks "$1")
  echo "scale=2; ($b - $a) / $(getconf CLK_TCK)" | bc
}
frames() { ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }

"$root/build/bin/lumetra-sim" --size 1920x1080 --rate 60 >"$log/sim.log" 2>&1 & sim=$!
"$root/build/bin/lm-vuzadivirur" >"$log/app.log" 2>&1 & app=$!
plain=$(cpu $app); kill $app; wait $app || true
"$root/build/bin/lm-vuzadivirur" --record "$log/app.mkv" >"$log/app-record.log" 2>&1 & app=$!
recording=$(cpu $app); kill $app; wait $app || true
appFrames=$(sed -n 's/^⏹️ Recording saved: .* (\([0-9]*\) frames, .*/\1/p' "$log/app-record.log")
appSpan=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$log/app.mkv")

"$root/build/bin/lm-vuzadivirur" >"$log/app-relay.log" 2>&1 & app=$!
sleep 2
gst-launch-1.0 -q pipewiresrc target-object=lumetra-vuzadivirur ! video/x-raw,format=BGRA ! fakesink & gst=$!
pictureOnly=$(cpu $gst); kill $gst; wait $gst || true
gst-launch-1.0 -q -e pipewiresrc target-object=lumetra-vuzadivirur ! video/x-raw,format=BGRA ! $encode & gst=$!
gstRecording=$(cpu $gst); kill -INT $gst; wait $gst || true
kill $app $sim; wait $app $sim || true
gstFrames=$(frames "$log/gst.mkv")

"$root/build/bin/lumetra-sim" --size 1920x1080 --rate 60 >"$log/sim1080.log" 2>&1 &
"$root/build/bin/frame-counting-app" --warmup 3 --seconds "$seconds" --label recording \
  --record "$log/counting.mkv" >"$log/counting.log" 2>&1 || echo "frame-counting-app failed" >&2

# Whole-run frame counts include the warm-up; the CPU windows do not: the shares are per frame
# recorded over each process's whole recording, scaled to the measured window's length.
echo "record_app_cpu_1080p60_seconds: $plain -> $recording (over ${seconds} s)"
echo "record_app_frames: $appFrames in ${appSpan} s"
echo "record_gst_cpu_1080p60_seconds: $gstRecording (taking the frames alone: $pictureOnly)"
echo "record_gst_frames: $gstFrames"
echo "record_cpu_vs_gst_1080p60: $(echo "scale=2; (($recording - $plain) * $appSpan / $appFrames) / \
(($gstRecording - $pictureOnly) * ($seconds + 3) / $gstFrames)" | bc)"
echo "record_size_mb_per_minute: $(echo "scale=2; $(stat -c %s "$log/app.mkv") * 60 / $appSpan / 1048576" | bc)"
echo "taken_fps_1080p60_while_recording: $(sed -n 's/^recording_taken_fps: //p' "$log/counting.log")"
echo "missed_1080p60_while_recording: $(sed -n 's/^recording_missed: //p' "$log/counting.log")"
grep "Recording" "$log/counting.log" | sed 's/^/counting-app: /'
