#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it with apt, checks what a desktop
# finds (--version, --help, icon, validated desktop entry and metainfo, man page), runs the program
# beside lumetra-sim and the daemons until it takes frames, then purges the package and checks that
# none of its files remain. Installs into this machine: meant for CI.
#   tests/install/check-package.sh SIM    SIM: a built lumetra-sim, e.g. build/bin/lumetra-sim
set -euo pipefail
name=lm-vuzadivirur
fail() { echo "check-package: $*" >&2; exit 1; }

if [ "${1:-}" = --run ]; then  # inside the daemons and the virtual display
  log=$(mktemp)
  "$2" --size 640x360 >/dev/null &
  sim=$!
  "/usr/bin/$name" >"$log" 2>&1 &
  app=$!
  trap 'kill "$app" "$sim" 2>/dev/null; wait; rm -f "$log"' EXIT
  # The receiver logs every 60th frame; tail ends early if the program does.
  grep -q -m1 '✅ Received frame #' < <(timeout 120 tail -n +1 --pid="$app" -f "$log") ||
    { cat "$log" >&2; fail "the installed program stopped, or took no frames within 120 s"; }
  kill -TERM "$app"
  status=0; wait "$app" || status=$?
  [ $status = 0 ] || { cat "$log" >&2; fail "the installed program quit with status $status"; }
  exit 0
fi

sim=$(realpath "$1")
self=$(realpath "$0")
cd "$(dirname "$0")/../.."
deb=$(scripts/package.sh | tail -n 1)
lintian --fail-on error,warning "$deb"
sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --reinstall "$deb" >/dev/null
mapfile -t files < <(dpkg -L "$name" | while read -r f; do [ -d "$f" ] || echo "$f"; done)
for f in "/usr/bin/$name" "/usr/share/icons/hicolor/scalable/apps/$name.svg"; do
  printf '%s\n' "${files[@]}" | grep -qx "$f" || fail "dpkg -L lists no $f"
done
"$name" --version | grep -Eq "^$name [0-9]+\.[0-9]+" && "$name" --help | grep -q -- --version ||
  fail "--version or --help does not answer"
desktop-file-validate "/usr/share/applications/$name.desktop"
appstreamcli validate --no-net --explain "/usr/share/metainfo/$name.metainfo.xml" >/dev/null
[ -z "$(man --warnings -l "/usr/share/man/man1/$name.1.gz" 2>&1 >/dev/null)" ] ||
  fail "the man page renders with warnings"
man "$name" | grep -q '^SHARED FOLDER' || fail "man $name does not show the page"
scripts/with-daemons.sh xvfb-run -a -s "-screen 0 1280x1024x24" "$self" --run "$sim"
DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq "$name" >/dev/null
for f in "${files[@]}" "/usr/share/doc/$name"; do
  if [ -e "$f" ] || [ -L "$f" ]; then fail "$f is left after the purge"; fi
done
echo "check-package: $(basename "$deb") installs, runs, and purges without leftovers"
