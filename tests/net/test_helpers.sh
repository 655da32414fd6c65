# shellcheck shell=bash
# Shared by the test scripts that run under 'testnet.sh session': starting
# the simulator in a device namespace, waiting for its output, and checking
# what a program printed.

test_name=$(basename "$0" .sh)
testnet="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/testnet.sh"
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

fail()
{
  echo "$test_name: $*" >&2
  exit 1
}

# Waits up to SECONDS for a line of FILE that matches the extended regular
# expression PATTERN.
wait_for_line()
{
  local file=$1 pattern=$2 seconds=$3
  local deadline=$((SECONDS + seconds))
  until grep -Eq -- "$pattern" "$file"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

# start_simulator SIMULATOR DEVICE [ARG]...: runs the simulator in the device
# namespace, its output in $logs/DEVICE, and waits until it listens (the
# second kind says where it streams). The
# session ends it with everything else in the namespaces.
start_simulator()
{
  local simulator=$1 device=$2
  shift 2
  "$testnet" run-device "$device" "$simulator" "$@" >"$logs/$device" 2>&1 &
  wait_for_line "$logs/$device" "listening on|streaming on|registered as" 10 ||
    fail "the simulator in '$device' did not start: $(cat "$logs/$device")"
}

# expect_lines WHAT OUTPUT PATTERN...: every pattern matches a line of OUTPUT.
expect_lines()
{
  local what=$1 output=$2 pattern
  shift 2
  for pattern in "$@"; do
    grep -Eq -- "$pattern" <<<"$output" || fail "$what: no line matches '$pattern' in:
$output"
  done
}

# What qrn-hello and 'qrn info' print about the simulated module: a real
# MAC, not "unknown".
# shellcheck disable=SC2034
readonly identity_lines=('^company: +[^ ].*$' '^version: +[0-9]+\.[0-9]+\.[0-9]+$'
  '^MAC: +([0-9A-F]{2}:){5}[0-9A-F]{2}$')
