#!/usr/bin/env bash
# Runs a command beside private daemons in a throwaway XDG_RUNTIME_DIR: a D-Bus session bus,
# PipeWire and WirePlumber. They are stopped, in reverse order, however the command ends.
#   scripts/with-daemons.sh [--no-pipewire] COMMAND [ARGS...]
set -uo pipefail

want_pipewire=1
if [ "${1:-}" = "--no-pipewire" ]; then want_pipewire=0; shift; fi

runtime=$(mktemp -d "${TMPDIR:-/tmp}/lmv-runtime-XXXXXX")
chmod 0700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
pids=()

stop_all() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -TERM "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  fusermount -uz "$runtime/doc" 2>/dev/null  # a document portal the bus started mounts its store here
  rm -rf "$runtime"
}
trap stop_all EXIT
trap 'exit 130' INT TERM

wait_for() {  # wait_for SECONDS TEST...
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

dbus-daemon --session --address="unix:path=$runtime/bus" --nofork --nopidfile \
  >"$runtime/dbus.log" 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus"
wait_for 10 test -S "$runtime/bus" || { echo "with-daemons: no session bus" >&2; exit 1; }

if [ $want_pipewire = 1 ]; then
  pipewire >"$runtime/pipewire.log" 2>&1 &
  pids+=($!)
  wait_for 10 test -S "$runtime/pipewire-0" || { echo "with-daemons: no pipewire" >&2; cat "$runtime/pipewire.log" >&2; exit 1; }
  wireplumber >"$runtime/wireplumber.log" 2>&1 &
  pids+=($!)
  wait_for 10 sh -c 'pw-cli ls Client | grep -qi wireplumber' ||
    { echo "with-daemons: no wireplumber" >&2; cat "$runtime/wireplumber.log" >&2; exit 1; }
fi

"$@"
status=$?
exit $status
