# shellcheck shell=bash
# The viewer's lines of bench/run: latency, cost against ffplay and
# responsiveness. The viewer runs on a private Xvfb (displays :160 to :169)
# with its timing probe on (KELVO_FRAME_TRACE, see app/trace/frametrace.h);
# Connect is pressed with the mouse. Needs $work, $pids, $simulator, $viewer
# and row() from bench/run.

# shellcheck source-path=SCRIPTDIR source=../scripts/viewer_window.sh
source "$root/scripts/viewer_window.sh"

readonly frame_interval_ms=33.3

now_ns() { echo "${EPOCHREALTIME/./}000"; }

# bench_x: starts Xvfb on the first free display of :160 to :169.
bench_x()
{
  [ -z "${bench_x_pid:-}" ] || return 0
  local display _
  for display in $(seq 160 169); do
    [ ! -e "/tmp/.X$display-lock" ] || continue
    Xvfb ":$display" -screen 0 1600x1000x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    bench_x_pid=$!
    pids+=("$bench_x_pid")
    for _ in $(seq 50); do
      if [ -S "/tmp/.X11-unix/X$display" ] && kill -0 "$bench_x_pid" 2>/dev/null; then
        export DISPLAY=:$display
        unset QT_QPA_PLATFORM WAYLAND_DISPLAY
        return 0
      fi
      kill -0 "$bench_x_pid" 2>/dev/null || break
      sleep 0.1
    done
    bench_x_pid=""
  done
  echo "bench: no Xvfb on :160 to :169: $(cat "$work/xvfb.log")" >&2
  return 1
}

# start_simulator NAME ARGS...: starts the simulator, waits until it serves,
# sets sim_pid.
start_simulator()
{
  local log=$work/$1.sim.log _
  shift
  : >"$log"
  "$simulator" "$@" >>"$log" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 100); do
    grep -Eq 'listening on|streaming on' "$log" && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "bench: the simulator ($*) did not start: $(cat "$log")" >&2
  return 1
}

stop_pid()
{
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# start_viewer NAME: starts the viewer in a folder of its own whose settings
# choose WiFi, with its probe writing to $work/NAME.trace; sets viewer_pid,
# viewer_log and viewer_start_ns.
start_viewer()
{
  local dir=$work/$1
  mkdir -p "$dir"
  printf '[General]\nKEY_CAMERA_TYPE_STR=1\n' >"$dir/applicaiton.ini"
  viewer_start_ns=$(now_ns)
  viewer_log=$dir/viewer.log
  (cd "$dir" && HOME=$dir TMPDIR=$dir KELVO_FRAME_TRACE=$work/$1.trace exec "$viewer") >"$viewer_log" 2>&1 &
  viewer_pid=$!
  pids+=("$viewer_pid")
}

# viewer_problem WHAT: says WHAT went wrong, whether the viewer still runs,
# and the end of its output.
viewer_problem()
{
  local state="still running"
  kill -0 "$viewer_pid" 2>/dev/null || state="no longer running"
  echo "bench: $1 (the viewer is $state; display $DISPLAY): $(tail -n 20 "$viewer_log")" >&2
}

# connect_viewer: presses Connect once the window shows it.
connect_viewer()
{
  local window
  window=$(viewer_window "$viewer_pid" 30) || { viewer_problem "the viewer showed no window"; return 1; }
  wait_for_button 15 || { viewer_problem "Connect did not show"; return 1; }
  press_connect "$window"
}

# percentiles FILE: "p50 p99 max" of the numbers in FILE, one a line.
percentiles()
{
  sort -n "$1" | awk '{ v[NR] = $1 }
    END { if (NR == 0) { print "- - -"; exit }
          i50 = int(NR * 0.50 + 0.999); i99 = int(NR * 0.99 + 0.999)
          printf "%.1f %.1f %.1f\n", v[i50], v[i99], v[NR] }'
}

# Line 4: from the simulator's send to the window's slot and to the paint.
viewer_latency_rows()
{
  bench_x || return 1
  local stamps=$work/latency.stamps trace=$work/latency.trace
  start_simulator latency --listen 127.16.4.1:34674 --format mjpeg --size 1280x960 --fps 30 --stamps "$stamps" ||
    return 1
  local sim=$sim_pid
  # The second module refuses at once here: the SDK's module shows.
  KELVO_QRN_ADDRESS=127.16.4.1 KELVO_ML_ADDRESS=127.16.4.2:8080 start_viewer latency
  echo "bench: viewer latency, ${latency_seconds} s" >&2
  connect_viewer || { stop_pid "$viewer_pid"; stop_pid "$sim"; return 1; }
  sleep "$latency_seconds"
  stop_pid "$viewer_pid"
  stop_pid "$sim"
  # The first second is the decoders' and the window's start-up.
  awk -v decoded="$work/latency.decoded" -v received="$work/latency.received" -v painted="$work/latency.painted" '
    FNR == NR { sent[$1] = $2; next }
    $1 == "decoded" { seq[$2] = $3 }
    $1 == "decoded" && ($3 in sent) && $2 > 30 { print ($4 - sent[$3]) / 1e6 > decoded }
    $1 == "received" && ($2 in seq) && (seq[$2] in sent) && $2 > 30 { print ($4 - sent[seq[$2]]) / 1e6 > received }
    $1 == "painted" && ($2 in seq) && (seq[$2] in sent) && $2 > 30 { print ($4 - sent[seq[$2]]) / 1e6 > painted }
  ' "$stamps" "$trace"
  touch "$work/latency.decoded" "$work/latency.received" "$work/latency.painted"
  local what p50 p99 max frames
  # Where the time goes: through the SDK and the decoder, then the queued
  # signal to the window, then the paint.
  read -r p50 p99 max < <(percentiles "$work/latency.decoded")
  row "Latency send -> decoded in the source's thread" "$p50 / $p99 / $max ms" - - "report" -
  for what in received painted; do
    read -r p50 p99 max < <(percentiles "$work/latency.$what")
    frames=$(grep -c . "$work/latency.$what" || true)
    local label="Latency send -> slot (p50/p99/max)"
    [ "$what" = received ] || label="Latency send -> painted (p50/p99/max)"
    if [ "$frames" -eq 0 ]; then
      row "$label" "no frames" - - "p99 < 33 ms, p50 < 10 ms" "NOT MET"
      continue
    fi
    row "$label" "$p50 / $p99 / $max ms ($frames frames)" "$frame_interval_ms ms frame interval" \
      "$(awk -v a="$p99" -v b="$frame_interval_ms" 'BEGIN { printf "%.2f", a / b }')" "p99 < 33 ms, p50 < 10 ms" \
      "$(awk -v a="$p50" -v b="$p99" 'BEGIN { print (b < 33 && a < 10) ? "met" : "NOT MET" }')"
  done
}

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# watch_process PID SECONDS RSSFILE: samples the resident memory once a
# second for SECONDS; prints the CPU seconds used meanwhile.
watch_process()
{
  local pid=$1 seconds=$2 rss=$3 before after _
  before=$(cpu_ticks "$pid")
  for _ in $(seq "$seconds"); do
    sleep 1
    rss_kib "$pid" >>"$rss"
  done
  after=$(cpu_ticks "$pid")
  awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.3f\n", t / hz }'
}

# ffplay's running count of dropped frames, from its status line.
ffplay_drops() { tr '\r' '\n' <"$1" | grep -o 'fd= *[0-9]*' | tail -n 1 | tr -dc '0-9'; }

# Line 5: CPU time per displayed frame and memory, against ffplay showing
# the same stream of the second kind of module in the same Xvfb.
viewer_cost_rows()
{
  bench_x || return 1
  local address=127.16.5.2:8080
  start_simulator cost --kind ml --listen "$address" --size 1280x960 --fps 30 || return 1
  local sim=$sim_pid trace=$work/cost.trace
  KELVO_QRN_ADDRESS=127.16.5.1 KELVO_ML_ADDRESS=$address start_viewer cost
  echo "bench: viewer cost, ${cost_seconds} s, then ffplay as long" >&2
  connect_viewer || { stop_pid "$viewer_pid"; stop_pid "$sim"; return 1; }
  sleep "$cost_warmup"
  rss_kib "$viewer_pid" >"$work/cost.rss.first"
  local from to ours_cpu
  from=$(now_ns)
  ours_cpu=$(watch_process "$viewer_pid" "$cost_seconds" "$work/cost.rss")
  to=$(now_ns)
  stop_pid "$viewer_pid"
  local frames
  frames=$(awk -v a="$from" -v b="$to" '$1 == "painted" && $4 >= a && $4 <= b { n++ } END { print n + 0 }' "$trace")

  # ffplay scales into the same 896 x 672 the viewer's window gives the picture.
  ffplay -hide_banner -an -stats -x 896 -y 672 -window_title ffplay "http://$address/stream" \
    >"$work/ffplay.log" 2>&1 &
  local player=$!
  pids+=("$player")
  sleep "$cost_warmup"
  local ref_cpu drops_before drops_after rss_player
  drops_before=$(ffplay_drops "$work/ffplay.log")
  ref_cpu=$(watch_process "$player" "$cost_seconds" "$work/ffplay.rss")
  drops_after=$(ffplay_drops "$work/ffplay.log")
  rss_player=$(tail -n 1 "$work/ffplay.rss")
  stop_pid "$player"
  stop_pid "$sim"
  # ffplay shows what arrives, 30 frames a second, less what it drops.
  local ref_frames
  ref_frames=$(awk -v s="$cost_seconds" -v a="${drops_before:-0}" -v b="${drops_after:-0}" \
    'BEGIN { print int(30 * s - (b - a)) }')
  if [ "$frames" -eq 0 ] || [ "$ref_frames" -le 0 ]; then
    row "Viewer CPU per displayed frame (ml HTTP stream)" "$frames frames" "$ref_frames frames ffplay" - \
      "<= ffplay" "NOT MET"
  else
    local ours_ms ref_ms
    ours_ms=$(awk -v c="$ours_cpu" -v f="$frames" 'BEGIN { printf "%.2f", 1000 * c / f }')
    ref_ms=$(awk -v c="$ref_cpu" -v f="$ref_frames" 'BEGIN { printf "%.2f", 1000 * c / f }')
    row "Viewer CPU per displayed frame (ml HTTP stream)" "$ours_ms ms ($frames frames in ${cost_seconds} s)" \
      "$ref_ms ms ffplay ($ref_frames frames)" \
      "$(awk -v a="$ours_ms" -v b="$ref_ms" 'BEGIN { printf "%.2f", a / b }')" "<= 1.0" \
      "$(awk -v a="$ours_ms" -v b="$ref_ms" 'BEGIN { print a <= b ? "met" : "NOT MET" }')"
  fi
  # Flat: after the warm-up the resident memory has no trend (least squares
  # over the samples, once a second); a frame more or less in flight moves
  # it by one 4.7 MiB step, which is no trend.
  local first last peak trend
  first=$(cat "$work/cost.rss.first")
  last=$(tail -n 1 "$work/cost.rss")
  peak=$(sort -n "$work/cost.rss" | tail -n 1)
  trend=$(awk '{ n++; sx += n; sy += $1; sxx += n * n; sxy += n * $1 }
    END { d = n * sxx - sx * sx; printf "%.1f", (d > 0 ? (n * sxy - sx * sy) / d : 0) }' "$work/cost.rss")
  row "Viewer RSS after ${cost_warmup} s -> end (peak), trend" \
    "$((first / 1024)) -> $((last / 1024)) MiB ($((peak / 1024))), $trend KiB/s" "$((rss_player / 1024)) MiB ffplay" \
    "$(awk -v a="$last" -v b="$rss_player" 'BEGIN { printf "%.2f", a / b }')" "flat: trend < 16 KiB/s" \
    "$(awk -v t="$trend" 'BEGIN { print t < 16 ? "met" : "NOT MET" }')"
}

# One start and connect; prints "shown_ms first_frame_ms stall_ms".
responsiveness_run()
{
  local name=$1 trace=$work/$1.trace
  KELVO_FRAME_TRACE_STALLS=1 start_viewer "$name"
  connect_viewer || { stop_pid "$viewer_pid"; return 1; }
  sleep "$responsive_seconds"
  stop_pid "$viewer_pid"
  awk -v start="$viewer_start_ns" '
    $1 == "shown" && !shown { shown = $4 }
    $1 == "connect" && !connect { connect = $4 }
    $1 == "painted" && connect && !first { first = $4 }
    $1 == "stall" && $2 > stall { stall = $2 }
    END { printf "%.0f %s %d\n", (shown - start) / 1e6, first ? sprintf("%.0f", (first - connect) / 1e6) : "-", stall }
  ' "$trace"
}

# Line 6: start to window, Connect to first frame painted, longest stall of
# the event loop; with the second module absent and present.
viewer_responsiveness_rows()
{
  bench_x || return 1
  start_simulator responsive-qrn --listen 127.16.6.1:34674 --format mjpeg --size 1280x960 --fps 30 || return 1
  local qrn=$sim_pid
  # Absent: its address drops everything in our namespace; without one, an
  # unused loopback address, which refuses at once instead.
  local absent=${KELVO_BENCH_BLACKHOLE:-127.16.6.3} how="address drops"
  [ -n "${KELVO_BENCH_BLACKHOLE:-}" ] || how="address refuses: no namespace"
  echo "bench: viewer responsiveness, second module absent ($how)" >&2
  local shown first stall
  KELVO_QRN_ADDRESS=127.16.6.1 KELVO_ML_ADDRESS=$absent:8080 responsiveness_run absent >"$work/absent.result" ||
    { stop_pid "$qrn"; return 1; }
  read -r shown first stall <"$work/absent.result"
  local ml_address=127.16.6.2:8080
  start_simulator responsive-ml --kind ml --listen "$ml_address" --size 1280x960 --fps 30 || { stop_pid "$qrn"; return 1; }
  local ml=$sim_pid
  echo "bench: viewer responsiveness, second module present" >&2
  local shown2 first2 stall2
  KELVO_QRN_ADDRESS=127.16.6.1 KELVO_ML_ADDRESS=$ml_address responsiveness_run present >"$work/present.result" ||
    { stop_pid "$qrn"; stop_pid "$ml"; return 1; }
  read -r shown2 first2 stall2 <"$work/present.result"
  stop_pid "$ml"
  stop_pid "$qrn"
  met() { awk -v v="$1" -v t="$2" 'BEGIN { print (v != "-" && v + 0 < t) ? "met" : "NOT MET" }'; }
  row "Start -> window shown (absent / present)" "$shown / $shown2 ms" - - "< 1000 ms" \
    "$(met "$(( shown > shown2 ? shown : shown2 ))" 1000)"
  row "Connect -> first frame painted, 2nd module absent ($how)" "$first ms" - - "< 1000 ms" "$(met "$first" 1000)"
  row "Connect -> first frame painted, 2nd module present" "$first2 ms" - - "< 1000 ms" "$(met "$first2" 1000)"
  row "Longest event-loop stall (absent / present)" "$stall / $stall2 ms" - - "< 100 ms" \
    "$(met "$(( stall > stall2 ? stall : stall2 ))" 100)"
}
