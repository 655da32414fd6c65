#!/usr/bin/env bash
# scripts/p2p-servers.sh in each mode: the servers bind nothing but the given
# address, p2p.conf carries the mode's init strings, the silent broker is
# stopped, and stop ends exactly the processes started.
#   p2p_servers_test.sh P2P_SERVERS_SCRIPT PPPP_INIT_STRING
set -euo pipefail
servers=$1 tool=$2
address="127.10.250.$((1 + $$ % 250))"
work=$(mktemp -d)
trap 'bash "$servers" stop "$work/run" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

for mode in direct relay-only relay-refusing broker-silent; do
  bash "$servers" start "$work/run" --address "$address" --mode "$mode" --broker-port 11883 --relay-port 13478 ||
    fail "$mode: did not start"
  mapfile -t pids < <(cut -d' ' -f1 "$work/run/pids")
  [ "${#pids[@]}" -eq 2 ] || fail "$mode: pids: $(cat "$work/run/pids")"

  # Every socket of both processes, listening or not, on the address only.
  for pid in "${pids[@]}"; do
    sockets=$(ss -Htuanp | grep "pid=$pid," || true)
    [ -n "$sockets" ] || fail "$mode: process $pid has no socket"
    elsewhere=$(awk '{ print $5 }' <<<"$sockets" | grep -v "^$address:" || true)
    [ -z "$elsewhere" ] || fail "$mode: process $pid binds $elsewhere"
  done
  ss -Htln "src $address" "sport = :11883" | grep -q . || fail "$mode: the broker does not listen on 11883"
  ss -Huln "src $address" "sport = :13478" | grep -q . || fail "$mode: the relay does not listen on 13478"

  for key in a b c d; do
    grep -q "^init_string_$key=[A-P]*$" "$work/run/p2p.conf" || fail "$mode: no init_string_$key"
  done
  decoded=$("$tool" --decode "$(sed -n 's/^init_string_a=//p' "$work/run/p2p.conf")")
  grep -qx "broker=$address:11883" <<<"$decoded" || fail "$mode: $decoded"
  grep -qx "relay=$address:13478" <<<"$decoded" || fail "$mode: $decoded"
  case $mode in
    relay-only | relay-refusing) policy=relay-only ;;
    *) policy=all ;;
  esac
  grep -qx "policy=$policy" <<<"$decoded" || fail "$mode: $decoded"
  broker_state=$(awk '{ print $3 }' "/proc/${pids[1]}/stat")
  if [ "$mode" = broker-silent ]; then
    [ "$broker_state" = T ] || fail "broker-silent: the broker runs (state $broker_state)"
  else
    [ "$broker_state" != T ] || fail "$mode: the broker is stopped"
  fi

  bash "$servers" stop "$work/run"
  for pid in "${pids[@]}"; do
    state=$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null || true)
    [ -z "$state" ] || [ "$state" = Z ] || fail "$mode: process $pid still runs after stop"
  done
  [ ! -e "$work/run/pids" ] || fail "$mode: pids left behind"
  rm -rf "$work/run"
done
echo "p2p-servers: ok"
