#!/usr/bin/env bash
# A module reached by its device ID across the test network: the broker and
# the relay in the host namespace (192.168.100.1), the simulated module in its
# device namespace registered with them, and 'qrn stream' in the host
# namespace streaming through a peer-to-peer session, once over the direct
# path between the namespaces and once relayed because the module offers
# only the relay. Run under 'testnet.sh session'.
#
#   p2p_stream_test.sh QRN SIMULATOR P2P_SERVERS_SCRIPT
set -euo pipefail
qrn=$1
simulator=$2
servers=$3
# shellcheck source-path=SCRIPTDIR source=test_helpers.sh
source "$(dirname "$0")/test_helpers.sh"

for tool in turnserver mosquitto ss; do
  command -v "$tool" >/dev/null || fail "'$tool' is missing (bash scripts/install-deps.sh installs it)"
done

dir=$logs/p2p
"$testnet" run-host bash "$servers" start "$dir" --address 192.168.100.1 >"$logs/servers" 2>&1 ||
  fail "the P2P servers did not start: $(cat "$logs/servers")"
trap '"$testnet" run-host bash "$servers" stop "$dir" >/dev/null 2>&1 || true; rm -rf "$logs"' EXIT

stream_by_id()
{
  local id=$1 what=$2 output log="$logs/$2.log"
  shift 2
  # A log of its own: the other case's module still runs and has its line.
  "$testnet" run-device qrn "$simulator" --device-id "$id" --p2p "$dir/p2p.conf" "$@" >"$log" 2>&1 &
  wait_for_line "$log" "registered as" 10 || fail "$what: the module did not register: $(cat "$log")"
  output=$("$testnet" run-host env QRN_P2P_CONFIG="$dir/p2p.conf" "$qrn" stream "$id" --seconds 3 2>&1) ||
    fail "$what: qrn stream failed: $output"
  # 30 frames a second for 3 s: well over 30 frames came whole.
  local frames
  frames=$(sed -n 's/^frames: *\([0-9]*\).*/\1/p' <<<"$output")
  [ -n "$frames" ] && [ "$frames" -ge 30 ] || fail "$what: too few frames: $output"
  echo "$what: $frames frames"
}

stream_by_id SQRN111111DIREC direct
stream_by_id SQRN222222RELAY relayed --fault relay-first-sessions
