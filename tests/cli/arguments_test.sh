#!/usr/bin/env bash
# Every command explains itself with --help; bad command lines end with
# exit code 2 and a message, before any connection is tried.
set -euo pipefail
qrn=$1
probe_sim=unused
source "$(dirname "$0")/cli_lib.sh"

run_qrn --help
expect_status 0 "usage: qrn COMMAND" out "qrn --help"
cp "$workdir/out" "$workdir/overview"
for command in scan info snapshot stream smartconfig inspect; do
  grep -qE "^  $command " "$workdir/overview" || fail "qrn --help does not list $command"
  run_qrn "$command" --help
  expect_status 0 "usage: qrn $command" out "qrn $command --help"
done

# Nothing listens here; a case that tried to connect would exit with 1.
address=127.253.0.4
long_address=127.253.0.4444444444444444
expect_usage() {
  local fragment=$1
  shift
  run_qrn "$@"
  expect_status 2 "$fragment" err "qrn $*"
}
expect_usage "usage: qrn COMMAND"
expect_usage "unknown command 'bogus'" bogus
expect_usage "missing operand" info
expect_usage "unexpected operand 'extra'" info "$address" extra
expect_usage "the address is empty" info ""
expect_usage "too long" info "$long_address"
expect_usage "unknown option '--bogus'" info "$address" --bogus
expect_usage "--port needs a value" info "$address" --port
expect_usage "--port expects a whole number from 1 to 65535" info "$address" --port 0
expect_usage "--port expects" info "$address" --port 65536
expect_usage "--port expects" info "$address" --port 12ab
expect_usage "--port given twice" info "$address" --port 1 --port 2
expect_usage "missing operand" snapshot "$address"
expect_usage "the file name is empty" snapshot "$address" ""
expect_usage "--seconds expects" stream "$address" --seconds -1
expect_usage "--seconds expects" stream "$address" --seconds 99999999999999999999999
expect_usage "--seconds expects" stream "$address" --seconds 0
expect_usage "--once takes no value" scan --once=yes
expect_usage "--interval expects" scan --interval 0
expect_usage "unexpected operand" scan "$address"
expect_usage "at least 8 characters" smartconfig short
expect_usage "unexpected operand 'extra'" smartconfig abcdefgh secret extra
expect_usage "missing operand" smartconfig
echo "arguments: all cases passed"
