#!/usr/bin/env bash
# The agent ends cleanly (exit status 1, no crash) when its X display goes away under it,
# however its threads happen to notice. Three rounds, each on an Xvfb of its own.
#
#   tests/x11/display_lost.sh BIN_DIR
set -euo pipefail

if [ -z "${SAPIOLUX_DISPLAY_LOST_BUS:-}" ]; then
  export SAPIOLUX_DISPLAY_LOST_BUS=1
  exec dbus-run-session -- bash "$0" "$@"
fi

bin=$1
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/hive" "$work/data" "$work/run"
chmod 700 "$work/run"

for round in 1 2 3; do
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 1 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  display=":$(head -n1 "$work/display")"
  : >"$work/display"
  DISPLAY=$display SAPIOLUX_USER_HIVE_DIR="$work/hive" SAPIOLUX_MACHINE_HIVE_DIR="$work/hive" \
    SAPIOLUX_DATA_DIR="$work/data" XDG_RUNTIME_DIR="$work/run" \
    "$bin/sapiolux" >"$work/agent.log" 2>&1 &
  agent=$!
  # Until the window is up, with its capture and hot-key threads running.
  for _ in $(seq 1 100); do
    DISPLAY=$display xdotool search --name "Halvoran Vantri" >/dev/null 2>&1 && break
    sleep 0.1
  done
  sleep $((round % 2))
  kill "$xvfb"
  status=0
  for _ in $(seq 1 100); do
    kill -0 "$agent" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$agent" 2>/dev/null; then
    echo "round $round: the agent still runs 10 s after its display went away" >&2
    exit 1
  fi
  wait "$agent" || status=$?
  wait "$xvfb" 2>/dev/null || true
  if [ "$status" -ne 1 ]; then
    echo "round $round: the agent ended with status $status, not 1" >&2
    cat "$work/agent.log" >&2
    exit 1
  fi
done
echo "PASS"
