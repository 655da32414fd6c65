#!/usr/bin/env bash
# qrn smartconfig broadcasts the texts it is given for the time asked, and a
# module in provisioning mode (the simulator, listening) reads them back.
set -euo pipefail
qrn=$1 probe_sim=$2
source "$(dirname "$0")/cli_lib.sh"

address=127.253.0.7
start_sim "$address:34674" --smartconfig-listen
export QRN_BCAST_ADDRS=$address
# Without a password the module's own default second text is sent.
cases=("abcdefgh secret|first 'abcdefgh' second 'secret'"
       "probe-network-1|first 'probe-network-1' second '4721'")
for entry in "${cases[@]}"; do
  read -ra texts <<<"${entry%%|*}"
  heard=${entry#*|}
  start=$SECONDS
  run_qrn smartconfig "${texts[@]}" --seconds 1
  expect_status 0 "broadcasting '${texts[0]}' for 1 s" out "smartconfig ${texts[*]}"
  grep -qx "done" "$workdir/out" || fail "no end of broadcast reported: $(cat "$workdir/out")"
  [ $((SECONDS - start)) -lt 10 ] || fail "a 1-second broadcast took $((SECONDS - start)) s"
  wait_for_text "$sim_log" "smartconfig $heard" 5 || fail "the module did not hear $heard: $(cat "$sim_log")"
done
echo "smartconfig: all cases passed"
