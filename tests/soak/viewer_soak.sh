#!/usr/bin/env bash
# The viewer on a private Xvfb against the second kind of module in chaos
# mode, losing its module every so often and getting it back, while its
# capture key is pressed once a second. Checks that the viewer never ends,
# that every picture on disk is a whole JPEG, that its descriptors, threads
# and memory stay bounded, and that once the chaos ends it connects, shows
# the picture and captures again. Prints its figures.
#   viewer_soak.sh VIEWER SIMULATOR SECONDS [ADDRESS]
# ADDRESS (default 127.15.3.2) is where the module listens, on port 8080.
# QRN_SOAK_DISPLAY=N uses display :N instead of a free one Xvfb picks.
set -euo pipefail
viewer=$(realpath "$1")
simulator=$(realpath "$2")
seconds=$3
address=${4:-127.15.3.2}
port=8080
here=$(dirname "$0")
source "$here/../../scripts/viewer_window.sh"
source "$here/process_figures.sh"

# Every this many seconds the module goes away for a few seconds.
readonly loss_period=20
readonly loss_pause=3
readonly chaos_rate=0.02

fail()
{
  echo "viewer_soak: FAIL $*" >&2
  exit 1
}

for tool in Xvfb xdotool import convert curl djpeg; do
  command -v "$tool" >/dev/null || fail "'$tool' is missing (bash scripts/install-deps.sh installs it)"
done

logs=$(mktemp -d)
viewer_pid="" xvfb_pid="" sim_pid=""
cleanup()
{
  local pid
  for pid in $viewer_pid $sim_pid $xvfb_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$logs"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [ -n "${QRN_SOAK_DISPLAY:-}" ]; then
  Xvfb ":$QRN_SOAK_DISPLAY" -screen 0 1600x1000x24 -nolisten tcp >"$logs/xvfb.log" 2>&1 &
  xvfb_pid=$!
  DISPLAY=:$QRN_SOAK_DISPLAY
  sleep 1
else
  start_xvfb "$logs" || fail "Xvfb did not start"
fi
export DISPLAY
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
# Only the second kind answers: the SDK's address has nothing behind it.
export KELVO_ML_ADDRESS=$address:$port KELVO_QRN_ADDRESS=${address%.*}.1 QRN_BCAST_ADDRS=127.255.255.255

faults=0 losses=0
# start_module SEED [RATE]: the module, in chaos unless RATE is 0.
start_module()
{
  local chaos=()
  [ "${2:-$chaos_rate}" = 0 ] || chaos=(--chaos "$1:${2:-$chaos_rate}")
  "$simulator" --kind ml --listen "$address:$port" --size 640x480 --fps 10 "${chaos[@]}" \
    </dev/null >"$logs/module-$1.log" 2>&1 &
  sim_pid=$!
}
# stop_module: ends it and adds the faults it injected to the count.
stop_module()
{
  local seed_log=$1 injected
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
  injected=$(sed -n 's/.*chaos seed [0-9]*: \([0-9]*\) faults injected.*/\1/p' "$logs/module-$seed_log.log")
  faults=$((faults + ${injected:-0}))
}

work=$logs/work
pictures=$work/pictures
mkdir -p "$work/tmp" "$work/runtime" "$pictures"
chmod 700 "$work/runtime"
printf '[General]\nKEY_CAMERA_TYPE_STR=1\nLANG_STR=1\nKEY_STORAGE_PATH_STR=%s\nKEY_FILENAME_STR=soak00000\nKEY_ID_AUTO_INC_STR=true\n' \
  "$pictures" >"$work/applicaiton.ini"

seed=1
start_module $seed
(
  cd "$work"
  HOME=$work TMPDIR=$work/tmp XDG_RUNTIME_DIR=$work/runtime exec "$viewer"
) >"$logs/viewer" 2>&1 &
viewer_pid=$!
window=$(viewer_window "$viewer_pid" 30) || fail "the viewer showed no window: $(cat "$logs/viewer")"
wait_for_button 10 || fail "Connect is not where the form puts it"

# connected: Disconnect shows where Connect was. The two buttons differ in
# their text only, and a button under the pointer changes its colour, so
# only the white text of the area is compared with Connect's.
convert_connect_area()
{
  import -window root -crop "$viewer_connect_area" +repage "$1"
  convert "$1" -colorspace Gray -threshold 80% "$1"
}
convert_connect_area "$logs/connect-button.png"
connected()
{
  local differing
  convert_connect_area "$logs/now-button.png"
  differing=$(compare -metric AE "$logs/connect-button.png" "$logs/now-button.png" null: 2>&1 || true)
  [ "${differing%% *}" -gt 100 ]
}

# Boxes the viewer opens (a failed connect, a failed save) are answered
# with Return, as a person would; each is counted.
boxes=0
answer_boxes()
{
  local w
  for w in $(xdotool search --onlyvisible --pid "$viewer_pid" 2>/dev/null); do
    [ "$w" = "$window" ] && continue
    xdotool windowfocus "$w" key Return 2>/dev/null || true
    boxes=$((boxes + 1))
  done
}

reconnects=0
# try_connect: presses Connect when the window shows it.
try_connect()
{
  connected && return 0
  xdotool mousemove --window "$window" "${viewer_connect_button[@]}" click 1 mousemove 800 950
  reconnects=$((reconnects + 1))
}

press_connect "$window"
wait_for_video 30 "$logs/first.png" || fail "no picture within 30 s of Connect: $(cat "$logs/viewer")"

sampler_start "$viewer_pid" "$logs/figures"
start=$SECONDS
next_loss=$((start + loss_period))
key_presses=0
while [ $((SECONDS - start)) -lt "$seconds" ]; do
  kill -0 "$viewer_pid" 2>/dev/null || fail "the viewer ended during the soak: $(cat "$logs/viewer")"
  if [ "$SECONDS" -ge "$next_loss" ]; then
    # The module goes away mid-stream and comes back a few seconds later.
    stop_module $seed
    losses=$((losses + 1))
    sleep "$loss_pause"
    seed=$((seed + 1))
    start_module $seed
    next_loss=$((SECONDS + loss_period))
  fi
  curl -s -o /dev/null --max-time 2 -X POST "http://$address:$port/key" && key_presses=$((key_presses + 1)) || true
  answer_boxes
  try_connect || true
  sleep 1
done
stop_module $seed
sampler_stop

# The chaos clears: the viewer connects, shows the picture and captures.
seed=$((seed + 1))
start_module $seed 0
recovered=""
for _ in $(seq 60); do
  answer_boxes
  try_connect || true
  if connected && wait_for_video 3 "$logs/recovered.png"; then
    recovered=1
    break
  fi
  sleep 1
done
if [ -z "$recovered" ]; then
  import -window root "$logs/stuck.png"
  state=$(connected && echo "Disconnect shows" || echo "Connect shows")
  fail "no picture within 60 s once the chaos ended ($state, video area mean" \
    "$(area_mean "$logs/stuck.png" "$viewer_video_area"), $(viewer_windows "$viewer_pid") windows): $(tail -n 20 "$logs/viewer")"
fi
before=$(find "$pictures" -name '*.jpg' | wc -l)
curl -s -o /dev/null --max-time 2 -X POST "http://$address:$port/key" || fail "the module did not take the key press"
stored=""
for _ in $(seq 100); do
  if [ "$(find "$pictures" -name '*.jpg' | wc -l)" -gt "$before" ]; then stored=1; break; fi
  sleep 0.1
done
[ -n "$stored" ] || fail "no capture stored once the chaos ended"
stop_module $seed

# Function > Exit ends it cleanly after all that.
answer_boxes
exit_viewer "$viewer_pid" "$window" || fail "$viewer_exit_problem: $(cat "$logs/viewer")"
viewer_pid=""

# Every file in the folder is a whole picture: no half-written file, no
# temporary left behind.
captures=0
for file in "$pictures"/* "$pictures"/.[!.]*; do
  [ -e "$file" ] || continue
  case $file in *.jpg) ;; *) fail "a stray file in the storage folder: $file" ;; esac
  [ "$(head -c 2 "$file" | od -An -tx1 | tr -d ' ')" = ffd8 ] || fail "$file does not start with SOI"
  [ "$(tail -c 2 "$file" | od -An -tx1 | tr -d ' ')" = ffd9 ] || fail "$file does not end with EOI"
  djpeg -outfile /dev/null "$file" 2>"$logs/djpeg.txt" || fail "$file does not decode: $(cat "$logs/djpeg.txt")"
  [ ! -s "$logs/djpeg.txt" ] || fail "$file decodes with warnings: $(cat "$logs/djpeg.txt")"
  captures=$((captures + 1))
done

read -r peak_fds peak_threads peak_rss first_fds first_threads first_rss last_fds last_threads last_rss \
  < <(sampler_figures "$logs/figures")
echo "viewer_soak: $seconds s, $losses module losses, $reconnects presses of Connect, $faults faults injected," \
  "$key_presses key presses, $captures whole pictures stored, $boxes boxes answered"
echo "viewer_soak: peak descriptors $peak_fds, threads $peak_threads, resident $peak_rss KiB" \
  "(first half $first_fds/$first_threads/$first_rss, second half $last_fds/$last_threads/$last_rss)"
[ "$losses" -ge 1 ] || fail "the module was never lost: the run is too short"
[ "$faults" -ge 1 ] || fail "no fault was injected"
[ "$captures" -ge $((seconds / 10)) ] || fail "only $captures pictures stored in $seconds s"
# Bounded: the second half of the run needs no more than the first, give or
# take the connections in flight and the allocator's slack.
[ "$last_fds" -le $((first_fds + 16)) ] || fail "descriptors grew from $first_fds to $last_fds"
[ "$last_threads" -le $((first_threads + 8)) ] || fail "threads grew from $first_threads to $last_threads"
[ "$last_rss" -le $((first_rss * 3 / 2 + 65536)) ] || fail "resident memory grew from $first_rss KiB to $last_rss KiB"
echo "viewer_soak: passed"
