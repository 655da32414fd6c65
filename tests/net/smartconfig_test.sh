#!/usr/bin/env bash
# 'qrn smartconfig' in the host namespace reaches a listening module on each
# subnet through the interface broadcast addresses, and both decode the texts.
# Run under 'testnet.sh session'.
set -euo pipefail
qrn=$1
simulator=$2
# shellcheck source-path=SCRIPTDIR source=test_helpers.sh
source "$(dirname "$0")/test_helpers.sh"

start_simulator "$simulator" qrn --listen 192.168.100.254:34674 --smartconfig-listen
start_simulator "$simulator" ml --listen 192.168.10.123:34674 --smartconfig-listen

output=$("$testnet" run-host "$qrn" smartconfig testnet-ssid testnet-key --seconds 2 2>&1) ||
  fail "qrn smartconfig failed: $output"
for device in qrn ml; do
  wait_for_line "$logs/$device" "smartconfig first 'testnet-ssid' second 'testnet-key'" 5 ||
    fail "the module in '$device' did not decode the broadcast: $(cat "$logs/$device")"
done
