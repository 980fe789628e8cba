#!/usr/bin/env bash
# Chromium and Firefox ESR open the application's camera through the xdg-desktop-portal Camera
# portal and must show the host's size, its colours within 8 levels, and frames that keep coming.
#   camera-in-browser.sh BIN_DIR WxH RATE chromium|firefox...  in scripts/with-daemons.sh, on X
# LMV_WATCH_SECONDS=N prints each browser's reports of N more seconds (bench/browser/run.sh).
set -uo pipefail
bin=$1 size=$2 rate=$3 dir=$(mktemp -d) pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM -- "-$pid" && wait "$pid"; done 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
start() { setsid "${@:2}" >"$dir/$1.log" 2>&1 & pids=($! "${pids[@]}"); }  # a group, ended whole
wait_for() {  # wait_for SECONDS COMMAND...
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.2; done
}
last() { grep -o 'CAM [0-9]*x.*colours=[^"]*' "$dir/$1.log" | tail -n 1; }
field() { last "$2" | sed -n "s/.* $1=\([0-9]*\).*/\1/p"; }
reached() { [ "$(field frames "$1")" -ge "$2" ]; }
fail() { echo "FAIL: $1"; tail -n 15 "$dir/$2.log"; exit 1; }

# The portal is up before the node, as on a desktop; unsandboxed browsers (app id '') may use cameras.
dbus-update-activation-environment DISPLAY XAUTHORITY  # for the portal backends the bus starts
gdbus call --session -d org.freedesktop.portal.Desktop -o /org/freedesktop/portal/desktop \
  -m org.freedesktop.DBus.Peer.Ping >/dev/null || exit 1
gdbus call --session -d org.freedesktop.impl.portal.PermissionStore -o /org/freedesktop/impl/portal/PermissionStore \
  -m org.freedesktop.impl.portal.PermissionStore.SetPermission devices true camera '' "['yes']" >/dev/null || exit 1
start sim "$bin/lumetra-sim" --size "$size" --rate "$rate"
start app "$bin/lm-vuzadivirur"
chromium=(chromium --headless --enable-features=WebRtcPipeWireCamera --use-fake-ui-for-media-stream
  --no-sandbox --disable-gpu --no-first-run --disable-sync --disable-background-networking
  --disable-component-update --enable-logging=stderr --user-data-dir="$dir/chromium")
firefox=(firefox-esr --headless --no-remote --profile "$dir/firefox")
mkdir "$dir/firefox" && printf 'user_pref("%s", true);\n' media.webrtc.camera.allow-pipewire \
  media.navigator.permission.disabled devtools.console.stdout.content >"$dir/firefox/user.js"
for browser in "${@:4}"; do
  declare -n command=$browser
  start "$browser" "${command[@]}" "file://$(cd "$(dirname "$0")" && pwd)/camera.html"
  wait_for 180 reached "$browser" 1 || fail "$browser showed no frame" "$browser"
  wait_for 60 reached "$browser" $(($(field frames "$browser") + rate)) || fail "$browser: frames stopped" app
  line=$(last "$browser")
  [[ $line == "CAM $size "* ]] && [ "$(field error "$browser")" -le 8 ] || fail "$browser: $line" "$browser"
  echo "$browser: $line"
  [ -z "${LMV_WATCH_SECONDS:-}" ] || { seen=$(wc -l <"$dir/$browser.log"); sleep "$LMV_WATCH_SECONDS"
    tail -n "+$((seen + 1))" "$dir/$browser.log" | grep -o 'CAM .*colours=[^"]*'; }
  kill -TERM -- "-${pids[0]}"; wait "${pids[0]}"; pids=("${pids[@]:1}")
done
