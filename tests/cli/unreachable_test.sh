#!/usr/bin/env bash
# A module that is not there: every command that connects says so and ends
# with exit code 1.
set -euo pipefail
qrn=$1
probe_sim=unused
source "$(dirname "$0")/cli_lib.sh"

address=127.253.0.5  # nothing listens here
for arguments in "info $address" "snapshot $address $workdir/still.jpg" "stream $address --seconds 1"; do
  read -ra words <<<"$arguments"
  run_qrn "${words[@]}"
  expect_status 1 "cannot connect to $address: connect failure" err "qrn $arguments"
done
[ ! -e "$workdir/still.jpg" ] || fail "a failed snapshot left a file"
echo "unreachable: all cases passed"
