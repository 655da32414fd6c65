#!/usr/bin/env bash
# The viewer as shipped, in the host namespace on a private Xvfb, against a
# simulated module at its fixed address: the user's settings file chooses
# WiFi, Connect is pressed with the mouse, the live end face must fill the
# video area and Disconnect take Connect's place, and Function > Exit must end
# the program. Case qrn runs only the module behind the SDK (192.168.100.254),
# case ml only the second kind (192.168.10.123, HTTP); each checks that the
# connection is held by that module. Run under 'testnet.sh session'.
#
#   viewer_test.sh VIEWER SIMULATOR qrn|ml [SCREENSHOT.png]
set -euo pipefail
viewer=$1
simulator=$2
kind=$3
screenshot=${4:-}
# shellcheck source-path=SCRIPTDIR source=test_helpers.sh
source "$(dirname "$0")/test_helpers.sh"
# shellcheck source-path=SCRIPTDIR/../../scripts source=viewer_window.sh
source "$(dirname "$0")/../../scripts/viewer_window.sh"

for tool in Xvfb xdotool import convert compare ss; do
  command -v "$tool" >/dev/null || fail "'$tool' is missing (bash scripts/install-deps.sh installs it)"
done

case $kind in
  qrn)
    start_simulator "$simulator" qrn --listen 192.168.100.254:34674
    host=192.168.100.1 other=ml
    ;;
  ml)
    start_simulator "$simulator" ml --kind ml --listen 192.168.10.123:80
    host=192.168.10.1 other=qrn
    ;;
  *) fail "unknown case '$kind' (qrn or ml)" ;;
esac

# The viewer runs in the host namespace, Xvfb in the machine's own (see
# start_xvfb); the trap ends both.
viewer_pid="" xvfb_pid=""
cleanup()
{
  local pid
  for pid in $viewer_pid $xvfb_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$logs"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

start_xvfb "$logs" || fail "Xvfb did not start"
export DISPLAY
# The window goes to that display whatever the caller's session is.
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# A user's own working folder: settings choosing WiFi and English, the home,
# temporary and runtime folders private to this run (the single-instance
# socket lives in TMPDIR, so another copy elsewhere does not stop this one).
work=$logs/work
mkdir -p "$work/tmp" "$work/runtime"
chmod 700 "$work/runtime"
printf '[General]\nKEY_CAMERA_TYPE_STR=1\nLANG_STR=1\n' >"$work/applicaiton.ini"
(
  cd "$work"
  HOME=$work TMPDIR=$work/tmp XDG_RUNTIME_DIR=$work/runtime exec "$testnet" run-host "$viewer"
) >"$logs/viewer" 2>&1 &
viewer_pid=$!

window=$(viewer_window "$viewer_pid" 30) || fail "the viewer showed no window: $(cat "$logs/viewer")"
wait_for_button 10 || fail "Connect is not where the form puts it: $(cat "$logs/viewer")"
import -window root "$logs/before.png"
before=$(area_mean "$logs/before.png" "$viewer_video_area")
awk -v m="$before" 'BEGIN { exit !(m < 0.02) }' || fail "the video area is not black before Connect (mean $before)"

press_connect "$window"
wait_for_video 30 "$logs/connected.png" ||
  fail "no picture in the video area within 30 s (mean $(area_mean "$logs/connected.png" "$viewer_video_area")): $(cat "$logs/viewer")"
[ -z "$screenshot" ] || cp "$logs/connected.png" "$screenshot"

# Live: the frame counter and the particles move from frame to frame.
convert "$logs/connected.png" -crop "$viewer_video_area" +repage "$logs/first.png"
live=""
for _ in $(seq 50); do
  import -window root "$logs/later.png"
  convert "$logs/later.png" -crop "$viewer_video_area" +repage "$logs/next.png"
  changed=$(compare -metric AE "$logs/first.png" "$logs/next.png" null: 2>&1 || true)
  if [ "${changed%% *}" != 0 ]; then live=1; break; fi
  sleep 0.2
done
[ -n "$live" ] || fail "the picture does not change: the stream is not live"

# Disconnect in Connect's place: the same button, another text.
[ "$(pixel_colour "${viewer_connect_edge[@]}")" = "$viewer_button_colour" ] ||
  fail "no button where Connect was after connecting"
convert "$logs/before.png" -crop "$viewer_connect_area" +repage "$logs/connect.png"
convert "$logs/connected.png" -crop "$viewer_connect_area" +repage "$logs/disconnect.png"
differing=$(compare -metric AE "$logs/connect.png" "$logs/disconnect.png" null: 2>&1 || true)
[ "${differing%% *}" -gt 100 ] || fail "the button still shows Connect ($differing pixels differ)"

# The picture came from the module of this case: it holds a connection with
# the host (the SDK module its stream connection back to the host, the second
# kind the HTTP stream), and the other module holds none.
held=$("$testnet" run-device "$kind" ss -Htn state established)
grep -Eq " ${host//./\\.}:[0-9]+ *\$" <<<"$held" || fail "the $kind module holds no connection with the viewer: '$held'"
stray=$("$testnet" run-device "$other" ss -Htn state established)
[ -z "$stray" ] || fail "the $other module has connections: $stray"

exit_viewer "$viewer_pid" "$window" || fail "$viewer_exit_problem: $(cat "$logs/viewer")"
viewer_pid=""
