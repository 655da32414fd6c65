#!/usr/bin/env bash
# qrn scan --once lists a module that answers discovery, with its ID, alias
# and address.
set -euo pipefail
qrn=$1 probe_sim=$2
source "$(dirname "$0")/cli_lib.sh"

address=127.253.0.8
start_sim "$address:34674" --discovery
export QRN_BCAST_ADDRS=$address
run_qrn scan --once
expect_status 0 "$address" out "scan --once"
grep -qE "^[0-9]+ +probe-sim +$address\$" "$workdir/out" || fail "no row for the simulator: $(cat "$workdir/out")"
echo "scan discovery: all cases passed"
