#!/usr/bin/env bash
# A private test network made of network namespaces, so that the probe's fixed
# addresses and the real interface broadcast lists are used exactly as shipped
# while no packet can reach a real network.
#
#   testnet.sh check                    exits 77 when namespaces cannot be made here
#   testnet.sh session CMD [ARG]...     makes a network, runs CMD with QRN_TESTNET
#                                       naming it, and always removes the network
#   testnet.sh up                       makes a network and prints its name
#   testnet.sh down NAME                removes it and ends what runs inside it
#   testnet.sh run-host CMD [ARG]...    runs CMD in the host namespace of $QRN_TESTNET
#   testnet.sh run-device qrn|ml CMD [ARG]...
#                                       runs CMD in a device namespace
#
# One veth pair per subnet joins the host namespace to one device namespace:
#
#   host 192.168.100.1/24  <->  qrn 192.168.100.254/24
#   host 192.168.10.1/24   <->  ml  192.168.10.123/24
#
# so a broadcast to 192.168.100.255 or 192.168.10.255 from the host reaches
# the device of that subnet. The veths are created inside the namespaces and
# the host namespace has no default route: nothing has a way out.
set -euo pipefail

# Exit code that ctest reads as "skipped" (SKIP_RETURN_CODE).
readonly SKIP=77

usage()
{
  sed -n '5,13s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

# QRN_TESTNET_REQUIRED makes a machine that cannot run the test network a
# failure, for CI where a skip would hide that nothing ran.
skip()
{
  if [ -n "${QRN_TESTNET_REQUIRED:-}" ]; then
    echo "testnet: $* (QRN_TESTNET_REQUIRED is set)" >&2
    exit 1
  fi
  echo "testnet: skipped: $*" >&2
  exit "$SKIP"
}

fail()
{
  echo "testnet: $*" >&2
  exit 1
}

require_namespaces()
{
  [ "$(id -u)" -eq 0 ] || skip "network namespaces need root (run as root or through sudo)"
  command -v ip >/dev/null || skip "'ip' is missing (install iproute2)"
}

# The name carries the process id so that two runs never collide; veth names
# carry it too and stay within the 15 characters Linux allows.
network_name() { echo "qtn$1"; }

namespaces_of() { echo "$1-host" "$1-qrn" "$1-ml"; }

check_network_name()
{
  [[ $1 =~ ^qtn[0-9]+$ ]] || fail "'$1' is not the name of a test network"
}

# Ends what still runs inside the namespaces (a namespace with a process in it
# outlives its name, and so do its veths and addresses), then deletes them.
down()
{
  local net=$1 ns pids
  check_network_name "$net"
  for ns in $(namespaces_of "$net"); do
    [ -e "/run/netns/$ns" ] || continue
    pids=$(ip netns pids "$ns" 2>/dev/null || true)
    if [ -n "$pids" ]; then
      # shellcheck disable=SC2086
      kill -TERM $pids 2>/dev/null || true
      for _ in $(seq 50); do
        [ -z "$(ip netns pids "$ns" 2>/dev/null || true)" ] && break
        sleep 0.1
      done
      pids=$(ip netns pids "$ns" 2>/dev/null || true)
      # shellcheck disable=SC2086
      [ -z "$pids" ] || kill -KILL $pids 2>/dev/null || true
    fi
    ip netns delete "$ns" 2>/dev/null || true
  done
}

# Creates an empty namespace; a refusal here means the machine does not allow
# namespaces for us, which is a skip rather than a failure.
add_namespace()
{
  local ns=$1 error
  [ ! -e "/run/netns/$ns" ] || fail "namespace $ns exists already"
  error=$(ip netns add "$ns" 2>&1) || skip "cannot create network namespaces here: $error"
  error=$(ip netns exec "$ns" true 2>&1) || skip "cannot enter network namespaces here: $error"
  ip -n "$ns" link set lo up
}

# Joins host and device with a veth pair and gives both ends their addresses.
add_subnet()
{
  local net=$1 device=$2 subnet=$3 host_address=$4 device_address=$5 error
  local host_end="${net}h${subnet##*.}" device_end="${net}d"
  error=$(ip -n "$net-host" link add "$host_end" type veth peer name "$device_end" netns "$net-$device" 2>&1) ||
    skip "cannot create veth pairs here: $error"
  ip -n "$net-host" addr add "$host_address/24" broadcast "$subnet.255" dev "$host_end"
  ip -n "$net-$device" addr add "$device_address/24" broadcast "$subnet.255" dev "$device_end"
  ip -n "$net-host" link set "$host_end" up
  ip -n "$net-$device" link set "$device_end" up
}

up()
{
  local net=$1 ns
  require_namespaces
  for ns in $(namespaces_of "$net"); do
    add_namespace "$ns"
  done
  add_subnet "$net" qrn 192.168.100 192.168.100.1 192.168.100.254
  add_subnet "$net" ml 192.168.10 192.168.10.1 192.168.10.123
}

# The traps run after the function has returned: the network's name and the
# command's pid are globals.
check()
{
  net=$(network_name $$)
  trap 'down "$net"' EXIT
  up "$net"
}

session()
{
  [ $# -gt 0 ] || usage
  child=""
  net=$(network_name $$)
  # The command runs in the background so that a signal reaches the traps
  # at once instead of after the command ends.
  trap '[ -z "$child" ] || kill "$child" 2>/dev/null || true; down "$net"' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
  up "$net"
  QRN_TESTNET=$net "$@" &
  child=$!
  local status=0
  wait "$child" || status=$?
  child=""
  return "$status"
}

# Runs a command in one of the namespaces with the loopback overrides removed:
# in here the shipped defaults and the interface broadcast list are the point.
run_in()
{
  local role=$1
  shift
  [ $# -gt 0 ] || usage
  [ -n "${QRN_TESTNET:-}" ] || fail "QRN_TESTNET is not set: run this under 'testnet.sh session' or after 'testnet.sh up'"
  check_network_name "$QRN_TESTNET"
  [ -e "/run/netns/$QRN_TESTNET-$role" ] || fail "test network $QRN_TESTNET is not up"
  exec ip netns exec "$QRN_TESTNET-$role" env -u KELVO_QRN_ADDRESS -u KELVO_ML_ADDRESS -u QRN_BCAST_ADDRS "$@"
}

[ $# -gt 0 ] || usage
command=$1
shift
case $command in
  check) check ;;
  session) session "$@" ;;
  up)
    net=$(network_name $$)
    trap 'down "$net"' EXIT
    up "$net"
    trap - EXIT
    echo "$net"
    ;;
  down)
    [ $# -eq 1 ] || usage
    down "$1"
    ;;
  run-host) run_in host "$@" ;;
  run-device)
    [ $# -gt 1 ] || usage
    case $1 in
      qrn | ml) ;;
      *) fail "unknown device '$1' (qrn or ml)" ;;
    esac
    role=$1
    shift
    run_in "$role" "$@"
    ;;
  *) usage ;;
esac
