#!/usr/bin/env bash
# qrn scan with nothing answering: --once reports an empty table, and a
# continuous scan ends cleanly at Ctrl-C.
set -euo pipefail
qrn=$1
probe_sim=unused
source "$(dirname "$0")/cli_lib.sh"

export QRN_BCAST_ADDRS=127.253.0.6  # nothing answers here
run_qrn scan --once
expect_status 0 "(no modules found)" out "scan --once"

# Files of its own: the --once table above must not pass for this scan's,
# or Ctrl-C could come before qrn has started to handle it.
"$qrn" scan --interval 1 >"$workdir/scan-out" 2>"$workdir/scan-err" &
scan_pid=$!
started_pids+=("$scan_pid")
wait_for_text "$workdir/scan-out" "(no modules found)" 10 || fail "the scan shows no table: $(cat "$workdir/scan-err")"
kill -INT "$scan_pid"
status=0
wait "$scan_pid" || status=$?
[ "$status" -eq 0 ] || fail "Ctrl-C ended the scan with exit code $status: $(cat "$workdir/scan-err")"
echo "scan interrupt: all cases passed"
