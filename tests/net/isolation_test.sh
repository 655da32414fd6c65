#!/usr/bin/env bash
# The test network stays inside its namespaces: while it is up, the machine's
# own namespace keeps exactly its interfaces and addresses, every veth joins
# two of our namespaces, the host namespace has no way out, and the loopback
# overrides are gone inside.
set -euo pipefail
here=$(dirname "$0")

# Interfaces and IPv4 addresses, without the counters and lifetimes that
# change on their own.
interfaces_and_addresses()
{
  ip -o link show | awk -F': ' '{ print $2 }'
  ip -o -4 addr show | awk '{ print $2, $4 }'
}

if [ -z "${QRN_ISOLATION_ROOT_BEFORE:-}" ]; then
  "$here/testnet.sh" check
  QRN_ISOLATION_ROOT_BEFORE=$(interfaces_and_addresses) exec "$here/testnet.sh" session bash "$0"
fi

# shellcheck source-path=SCRIPTDIR source=test_helpers.sh
source "$here/test_helpers.sh"
net=$QRN_TESTNET

[ "$(interfaces_and_addresses)" = "$QRN_ISOLATION_ROOT_BEFORE" ] ||
  fail "the machine's own namespace changed while the test network was up:
before:
$QRN_ISOLATION_ROOT_BEFORE
now:
$(interfaces_and_addresses)"

# role, then its interfaces as "name address/prefix broadcast peer-namespace".
cases=(
  "host|lo 127.0.0.1/8 - -
${net}h100 192.168.100.1/24 192.168.100.255 $net-qrn
${net}h10 192.168.10.1/24 192.168.10.255 $net-ml"
  "qrn|lo 127.0.0.1/8 - -
${net}d 192.168.100.254/24 192.168.100.255 $net-host"
  "ml|lo 127.0.0.1/8 - -
${net}d 192.168.10.123/24 192.168.10.255 $net-host"
)
for case in "${cases[@]}"; do
  role=${case%%|*}
  expected=${case#*|}
  actual=$(ip -n "$net-$role" -o -4 addr show | while read -r _ name _ address rest; do
    broadcast=-
    [[ $rest =~ brd\ ([0-9.]+) ]] && broadcast=${BASH_REMATCH[1]}
    peer=$(ip -n "$net-$role" -o link show "$name" | grep -o 'link-netns [^ ]*' | cut -d' ' -f2 || true)
    echo "$name $address $broadcast ${peer:--}"
  done)
  [ "$actual" = "$expected" ] || fail "namespace $net-$role:
expected:
$expected
found:
$actual"
  links=$(ip -n "$net-$role" -o link show | wc -l)
  [ "$links" -eq "$(wc -l <<<"$expected")" ] ||
    fail "namespace $net-$role has $links interfaces: $(ip -n "$net-$role" -o link show)"
done

[ -z "$(ip -n "$net-host" route show default)" ] || fail "the host namespace has a default route"

inside=$(KELVO_QRN_ADDRESS=127.0.0.1 KELVO_ML_ADDRESS=127.0.0.2 QRN_BCAST_ADDRS=127.255.255.255 \
  "$testnet" run-host env)
! grep -qE '^(KELVO_QRN_ADDRESS|KELVO_ML_ADDRESS|QRN_BCAST_ADDRS)=' <<<"$inside" ||
  fail "the loopback overrides reach the host namespace"
