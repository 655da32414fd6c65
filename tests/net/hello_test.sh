#!/usr/bin/env bash
# qrn-hello in the host namespace reads the simulated module at the fixed
# address, given on the command line and left to the built-in default.
# Run under 'testnet.sh session'.
set -euo pipefail
hello=$1
simulator=$2
# shellcheck source-path=SCRIPTDIR source=test_helpers.sh
source "$(dirname "$0")/test_helpers.sh"

start_simulator "$simulator" qrn --listen 192.168.100.254:34674

for address in 192.168.100.254 ""; do
  what="qrn-hello ${address:-(default address)}"
  output=$("$testnet" run-host "$hello" ${address:+"$address"} 2>&1) || fail "$what failed: $output"
  expect_lines "$what" "$output" "${identity_lines[@]}"
done
