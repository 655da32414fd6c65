#!/usr/bin/env bash
# Installs what is missing, builds, starts the probe simulator on loopback and
# the viewer KelvoWiFi pointed at it: choose WiFi, press Connect, and the
# simulated end face appears. The simulator stops when the viewer closes.
#
#   bash scripts/demo.sh [--kind qrn|ml]
#
# --kind qrn (the default) simulates the module behind the SDK; --kind ml the
# second kind of module (HTTP). The viewer tries the second kind first and
# falls back to the SDK module, so running both would never show the SDK.
#
# Without a display (DISPLAY and WAYLAND_DISPLAY empty) it runs the viewer
# under Xvfb, presses Connect itself and saves build/viewer-demo.png.
set -euo pipefail
cd "$(dirname "$0")/.."

usage()
{
  sed -n '7p' "$0" | sed 's/^# *//' >&2
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
  echo "demo: no display (DISPLAY and WAYLAND_DISPLAY are empty): the viewer runs under Xvfb," \
    "presses Connect by itself and leaves a screenshot in build/viewer-demo.png." >&2
  echo "demo: to use it yourself, run this from a desktop session (or through 'ssh -X')." >&2
fi

bash scripts/install-deps.sh
bash scripts/build.sh

# Loopback only: the device and broadcast addresses are never reached, also
# when the caller's environment names them.
export KELVO_QRN_ADDRESS=127.0.0.1 KELVO_ML_ADDRESS=127.0.0.2 QRN_BCAST_ADDRS=127.0.0.1
simulator=$PWD/build/tools/probe_sim/qrn-probe-sim
viewer=$PWD/build/app/shell/KelvoWiFi
log=$(mktemp)
pids=()
cleanup()
{
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -f "$log"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [ "$kind" = qrn ]; then
  "$simulator" --listen "$KELVO_QRN_ADDRESS:34674" --discovery >"$log" 2>&1 &
else
  # Port 80 needs root; elsewhere the viewer is told the port with the address.
  if [ "$(id -u)" -ne 0 ]; then
    KELVO_ML_ADDRESS=127.0.0.2:8080
  fi
  "$simulator" --kind ml --listen "$KELVO_ML_ADDRESS" >"$log" 2>&1 &
fi
pids+=($!)
ready=""
for _ in $(seq 100); do
  if grep -Eq 'listening on|streaming on' "$log"; then ready=1; break; fi
  kill -0 "${pids[0]}" 2>/dev/null || break
  sleep 0.1
done
[ -n "$ready" ] || { echo "demo: the simulator did not start: $(cat "$log")" >&2; exit 1; }
cat "$log"

# From its own folder: the viewer opens its manuals and keeps its settings
# file ./applicaiton.ini in the working directory.
cd "$(dirname "$viewer")"
if [ -z "$headless" ]; then
  echo "demo: in the viewer choose WiFi and press Connect; close the viewer to end the demo."
  "$viewer"
  exit 0
fi

# shellcheck source-path=SCRIPTDIR source=viewer_window.sh
source "$OLDPWD/scripts/viewer_window.sh"
start_xvfb "$(mktemp -d)"
pids+=("$xvfb_pid")
export DISPLAY
# The demo chooses WiFi the way the window stores it.
printf '[General]\nKEY_CAMERA_TYPE_STR=1\n' >applicaiton.ini.demo
[ -e applicaiton.ini ] || cp applicaiton.ini.demo applicaiton.ini
rm -f applicaiton.ini.demo
"$viewer" &
pids+=($!)
window=$(viewer_window "${pids[-1]}" 20) || { echo "demo: the viewer's window did not appear" >&2; exit 1; }
select_wifi "$window"
press_connect "$window"
if wait_for_video 20 "$OLDPWD/build/viewer-demo.png"; then
  echo "demo: the viewer shows the live end face: build/viewer-demo.png"
else
  echo "demo: no picture within 20 s; what the screen showed: build/viewer-demo.png" >&2
  exit 1
fi
