#!/usr/bin/env bash
# `make run`: opens the window. With no real unit attached (no KVUFLASH_PORTS given and no USB
# serial adapter present), COM 1 is a freshly started simulated unit, so that a new user can
# press "&Software Upload", choose a sample file from samples/ and watch a whole upload.
# Without a display the same upload runs through the command-line uploader. FACTORY=1 starts the
# simulated unit in its bootstrap loader instead, for a Factory Bootstrap Upload.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

sim_pid=""
rundir=""
# The simulated unit is stopped and its folder removed at the end; after a failure the folder
# stays, with the unit's log, and its place is said.
cleanup() {
  status=$?
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if [ -n "$rundir" ]; then
    if [ "$status" = 0 ]; then
      rm -rf "$rundir"
    else
      echo "The simulated unit's log: $rundir/sim.log" >&2
    fi
  fi
}
trap cleanup EXIT

have_real_unit=0
if [ -n "${KVUFLASH_PORTS:-}" ] || compgen -G "/dev/ttyUSB*" >/dev/null || compgen -G "/dev/ttyACM*" >/dev/null; then
  have_real_unit=1
fi

if [ "$have_real_unit" = 0 ]; then
  rundir=$(mktemp -d "${TMPDIR:-/tmp}/kvuflash-run.XXXXXX")
  link="$rundir/ttyRQ410"
  bootstrap=()
  [ "${FACTORY:-}" = 1 ] && bootstrap=(--bootstrap)
  "$build/sim/rq410-sim" --link "$link" --erase-ms 1500 --reboot-ms 3000 "${bootstrap[@]}" \
    >"$rundir/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
  if [ ! -e "$link" ]; then
    echo "The simulated unit did not start; see $rundir/sim.log" >&2
    exit 1
  fi
  export KVUFLASH_PORTS="1=$link"
  echo "No RQ-410 attached: COM 1 is a simulated unit ($link)."
  if [ "${FACTORY:-}" = 1 ]; then
    echo "The simulated unit waits in its bootstrap loader: press \"Factory Bootstrap Upload\"."
  else
    echo "Sample files to choose: $root/samples/"
  fi
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$build/app/kvuflash"
else
  echo "No display: running the same upload with the command-line uploader."
  if [ "${FACTORY:-}" = 1 ]; then
    "$build/cli/kvuflash-cli" factory --port 1 --yes
  else
    "$build/cli/kvuflash-cli" upload --port 1 "$root/samples/demo-small.hex"
  fi
fi
