#!/usr/bin/env bash
# Two instances with one camera name: the second, named in its configuration file as the first is
# on its command line, is listed as "NAME (2)" and says so once. Then ffmpeg, a V4L2 application,
# reads the first camera through pw-v4l2 as /dev/video0: I420 at the host's rate, no frame twice,
# the host's colours within 8 levels.
#   camera-in-apps.sh BIN_DIR   in scripts/with-daemons.sh, on X
set -uo pipefail
bin=$1 rate=30 frames=90 dir=$(mktemp -d) pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" && wait "$pid"; done 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
start() { "${@:2}" >"$dir/$1.log" 2>&1 & pids=($! "${pids[@]}"); }
wait_for() {  # wait_for SECONDS COMMAND...
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.2; done
}
fail() { echo "FAIL: $1"; [ -z "${2:-}" ] || tail -n 15 "$dir/$2.log"; exit 1; }
cameras() {  # "SERIAL<tab>DESCRIPTION" of each node with a description
  pw-cli ls Node | awk -F' = ' '/object.serial/ {gsub(/"/, "", $2); s = $2}
    /node.description/ {gsub(/^"|"$/, "", $2); print s "\t" $2}'
}
listed() { cameras | cut -f2 | grep -qxF "$1"; }

start sim "$bin/lumetra-sim" --size 1280x720 --rate $rate
start first "$bin/lm-vuzadivirur" --camera-name "Show Cam"
wait_for 60 listed "Show Cam" || fail "no camera 'Show Cam'" first
mkdir -p "$dir/config/lm-vuzadivirur"
echo "camera-name = Show Cam" >"$dir/config/lm-vuzadivirur/lm-vuzadivirur.conf"
start second env XDG_CONFIG_HOME="$dir/config" "$bin/lm-vuzadivirur"
wait_for 60 listed "Show Cam (2)" || fail "no camera 'Show Cam (2)'" second
[ "$(cameras | cut -f2 | sort)" = $'Show Cam\nShow Cam (2)' ] || fail "cameras: $(cameras)"
[ "$(grep -cxF "⚠️ Camera name 'Show Cam' is taken; using 'Show Cam (2)'" "$dir/second.log")" = 1 ] &&
  grep -qxF "✅ Syphon server created: 'Lumetra Vuzadivirur'" "$dir/second.log" || fail "log" second

# pw-v4l2 gives a process's first /dev/video the first camera it finds, or the one named by serial.
serial=$(cameras | awk -F'\t' '$2 == "Show Cam" {print $1}')
PIPEWIRE_V4L2_TARGET=$serial timeout 120 pw-v4l2 ffmpeg -nostdin -hide_banner -nostats \
  -f v4l2 -input_format yuv420p -i /dev/video0 -map 0 -frames:v $frames -vf showinfo -f null - \
  -map 0 -frames:v 1 -f rawvideo -pix_fmt rgb24 "$dir/frame.rgb" >"$dir/ffmpeg.log" 2>&1 ||
  fail "ffmpeg read no camera" ffmpeg
grep -q 'rawvideo (I420' "$dir/ffmpeg.log" || fail "not I420" ffmpeg
# Timestamps in microseconds: once started (from the tenth frame), the frames came at the host's
# rate, within 15 %; none twice.
read -r count seen repeated < <(sed -n 's/.* pts: *\([0-9]*\) .* checksum:\([0-9A-F]*\) .*/\1 \2/p' \
  "$dir/ffmpeg.log" | awk '{if (NR == 10) t0 = $1; if ($2 == last) r++; last = $2; t = $1}
    END {printf "%d %.1f %d\n", NR, (NR - 10) * 1e6 / (t - t0), r}')
[ "$count" = $frames ] && [ "$repeated" = 0 ] &&
  awk -v s="$seen" -v r=$rate 'BEGIN {exit !(s > 0.85 * r && s < 1.15 * r)}' ||
  fail "$count frames at $seen fps, $repeated repeated; the host sends $rate fps" ffmpeg
# Per quadrant and channel, the darker of two points 0.2 frame apart: the bar covers one at most.
expected=(220 30 40 20 200 50 10 60 230 250 180 20) i=0
for quadrant in "0 0" "640 0" "0 360" "640 360"; do
  read -r qx qy <<<"$quadrant"
  for channel in 0 1 2; do
    a=$(od -An -tu1 -N1 -j$((((qy + 180) * 1280 + qx + 192) * 3 + channel)) "$dir/frame.rgb")
    b=$(od -An -tu1 -N1 -j$((((qy + 180) * 1280 + qx + 448) * 3 + channel)) "$dir/frame.rgb")
    value=$((a < b ? a : b)) difference=$((value - expected[i]))
    [ ${difference#-} -le 8 ] || fail "quadrant at $qx,$qy channel $channel: $value, not ${expected[i]}"
    i=$((i + 1))
  done
done
echo "ffmpeg through pw-v4l2: $count frames at $seen fps, colours within 8"
