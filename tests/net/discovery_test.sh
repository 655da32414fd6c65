#!/usr/bin/env bash
# 'qrn scan --once' in the host namespace finds the modules of both subnets
# through the interface broadcast addresses, and 'qrn info' reads the one at
# the fixed address. Run under 'testnet.sh session'.
set -euo pipefail
qrn=$1
simulator=$2
# shellcheck source-path=SCRIPTDIR source=test_helpers.sh
source "$(dirname "$0")/test_helpers.sh"

# A module on each subnet: each is reached only by its own subnet's broadcast.
start_simulator "$simulator" qrn --listen 192.168.100.254:34674 --discovery
start_simulator "$simulator" ml --listen 192.168.10.123:34674 --discovery

table=$("$testnet" run-host "$qrn" scan --once 2>&1) || fail "qrn scan --once failed: $table"
for address in 192.168.100.254 192.168.10.123; do
  expect_lines "qrn scan --once" "$table" "^[0-9]+ +probe-sim +${address//./\\.}\$"
done
# One row per module: a module heard on several broadcast addresses is still one.
[ "$(tail -n +2 <<<"$table" | grep -c .)" -eq 2 ] || fail "qrn scan --once should list exactly two modules:
$table"

info=$("$testnet" run-host "$qrn" info 192.168.100.254 2>&1) || fail "qrn info 192.168.100.254 failed: $info"
expect_lines "qrn info 192.168.100.254" "$info" "${identity_lines[@]}" '^ID: +[0-9]+$' '^alias: +[^ ].*$'
