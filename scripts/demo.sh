#!/usr/bin/env bash
# Installs what is missing, builds, starts the probe simulator on loopback and
# the viewer KelvoWiFi pointed at it: choose WiFi, press Connect, and the
# simulated end face appears. The simulator stops when the viewer closes.
#
#   bash scripts/demo.sh [--kind qrn|ml]
#
# --kind qrn (the default) simulates the module behind the SDK, the project's
# own protocol; --kind ml the second kind of module (HTTP). Only one runs: the
# viewer tries the second kind first and falls back to the SDK module, so with
# both running it would never show the SDK at work.
#
# Without a display (DISPLAY and WAYLAND_DISPLAY empty) the viewer runs on a
# private Xvfb, Connect is pressed for you, and build/viewer-demo.png shows
# what the window showed; then everything ends.
set -euo pipefail
cd "$(dirname "$0")/.."

usage()
{
  echo "usage: bash scripts/demo.sh [--kind qrn|ml]" >&2
  exit 2
}

kind=qrn
case $# in
  0) ;;
  2) [ "$1" = --kind ] || usage; kind=$2 ;;
  *) usage ;;
esac
case $kind in
  qrn | ml) ;;
  *) usage ;;
esac

headless=""
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  headless=1
  echo "demo: no display (DISPLAY and WAYLAND_DISPLAY are empty), so the viewer runs on a private Xvfb," \
    "Connect is pressed for you and build/viewer-demo.png shows the window." >&2
  echo "demo: to use the viewer yourself, run this from a desktop session or through 'ssh -X'." >&2
fi

bash scripts/install-deps.sh
bash scripts/build.sh

# Loopback only: the device and broadcast addresses are never reached, also
# when the caller's environment names them.
export KELVO_QRN_ADDRESS=127.0.0.1 KELVO_ML_ADDRESS=127.0.0.2 QRN_BCAST_ADDRS=127.0.0.1
simulator=$PWD/build/tools/probe_sim/qrn-probe-sim
viewer=$PWD/build/app/shell/KelvoWiFi
work=$(mktemp -d)
pids=()
cleanup()
{
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

if [ "$kind" = qrn ]; then
  "$simulator" --listen "$KELVO_QRN_ADDRESS:34674" --discovery >"$work/simulator.log" 2>&1 &
else
  # Port 80 needs root; the viewer takes the port with the address.
  port=80
  [ "$(id -u)" -eq 0 ] || port=8080
  KELVO_ML_ADDRESS=127.0.0.2:$port
  "$simulator" --kind ml --listen "$KELVO_ML_ADDRESS" >"$work/simulator.log" 2>&1 &
fi
pids+=($!)
ready=""
for _ in $(seq 100); do
  if grep -Eq 'listening on|streaming on' "$work/simulator.log"; then ready=1; break; fi
  kill -0 "${pids[0]}" 2>/dev/null || break
  sleep 0.1
done
[ -n "$ready" ] || { echo "demo: the simulator did not start: $(cat "$work/simulator.log")" >&2; exit 1; }
cat "$work/simulator.log"

if [ -z "$headless" ]; then
  echo "demo: in the viewer choose WiFi and press Connect; close the viewer to end the demo."
  # From its own folder: the viewer opens its manuals from the working
  # directory and keeps its settings file ./applicaiton.ini there.
  (cd "$(dirname "$viewer")" && exec "$viewer")
  exit 0
fi

# shellcheck source-path=SCRIPTDIR source=viewer_window.sh
source scripts/viewer_window.sh
start_xvfb "$work"
pids+=("$xvfb_pid")
export DISPLAY
unset QT_QPA_PLATFORM
# A working folder of its own whose settings choose WiFi, so the settings
# beside the viewer stay as a user left them.
printf '[General]\nKEY_CAMERA_TYPE_STR=1\n' >"$work/applicaiton.ini"
(cd "$work" && HOME=$work TMPDIR=$work exec "$viewer") >"$work/viewer.log" 2>&1 &
viewer_pid=$!
pids+=("$viewer_pid")
shot=$PWD/build/viewer-demo.png
window=$(viewer_window "$viewer_pid" 30) || { echo "demo: the viewer showed no window: $(cat "$work/viewer.log")" >&2; exit 1; }
wait_for_button 10 || { echo "demo: Connect is not where the window should show it" >&2; exit 1; }
press_connect "$window"
if ! wait_for_video 30 "$shot"; then
  echo "demo: no picture within 30 s; what the window showed: $shot" >&2
  exit 1
fi
echo "demo: the viewer showed the live end face: $shot"
close_viewer "$viewer_pid" "$window"
for _ in $(seq 50); do
  kill -0 "$viewer_pid" 2>/dev/null || break
  sleep 0.1
done
