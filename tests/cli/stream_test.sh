#!/usr/bin/env bash
# qrn stream counts the frames that arrive, reports rates, and ends on time
# or at Ctrl-C with its summary.
set -euo pipefail
qrn=$1 probe_sim=$2
source "$(dirname "$0")/cli_lib.sh"

address=127.253.0.3
start_sim "$address:34674" --fps 30

frames_of() { sed -n 's/^frames: *\([0-9]*\)$/\1/p' "$workdir/out"; }

run_qrn stream "$address" --seconds 2
expect_status 0 "frame rate:" out "stream --seconds 2"
frames=$(frames_of)
[ -n "$frames" ] && [ "$frames" -gt 0 ] || fail "no frames counted: $(cat "$workdir/out")"
grep -qF "video:      Motion-JPEG 1280x960" "$workdir/out" || fail "format line missing: $(cat "$workdir/out")"
# Not a terminal: progress comes as plain lines, no carriage returns.
grep -q 'frames/s  ' "$workdir/out" || fail "no progress line: $(cat "$workdir/out")"
if grep -q $'\r' "$workdir/out"; then fail "carriage return written to a pipe"; fi

# Ctrl-C ends a long stream early and still reports. The output of the run
# above goes first: the new run empties the file only once it has started.
: >"$workdir/out"
"$qrn" stream "$address" --seconds 60 >"$workdir/out" 2>"$workdir/err" &
stream_pid=$!
started_pids+=("$stream_pid")
# Ctrl-C once frames flow: a loaded machine may show progress lines of no
# frame first, and a stream that never delivered one rightly fails.
deadline=$((SECONDS + 10))
until grep -qE 's  [1-9][0-9]* frames  ' "$workdir/out"; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the stream did not start: $(cat "$workdir/err")"
  sleep 0.05
done
start=$SECONDS
kill -INT "$stream_pid"
status=0
wait "$stream_pid" || status=$?
[ $((SECONDS - start)) -lt 10 ] || fail "Ctrl-C took $((SECONDS - start)) s to end the stream"
expect_status 0 "frame rate:" out "stream ended by Ctrl-C"
echo "stream: all cases passed"
