#!/usr/bin/env bash
# However a session ends, nothing of its network is left: no namespace name,
# no interface of ours in the machine's namespace, and no process still inside
# one of its namespaces (which would keep the namespace, its veths and its
# addresses alive without a name).
set -euo pipefail
here=$(dirname "$0")
testnet="$here/testnet.sh"
"$testnet" check
# Background jobs get their own process group, so that they do not ignore
# SIGINT the way a script's background commands do.
set -m

state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT

# Network name and namespace inodes, written by the session's command; the
# variables expand there, not here.
# shellcheck disable=SC2016
record='echo "$QRN_TESTNET" >"$1/name"; stat -L -c %i /run/netns/"$QRN_TESTNET"-* >"$1/inodes.new"; mv "$1/inodes.new" "$1/inodes"'
# shellcheck disable=SC2016
device_process='"$2" run-device qrn sleep 600 &'

# name|command run in the session|signal sent to the runner, or -|exit code
cases=(
  "command succeeds|$record|-|0"
  "command fails|$record; exit 3|-|3"
  "process left in a device namespace|$record; $device_process exit 0|-|0"
  "runner terminated|$record; $device_process wait|TERM|143"
  "runner interrupted|$record; $device_process wait|INT|130"
)

# Waits up to 10 s for the condition.
wait_until()
{
  local deadline=$((SECONDS + 10))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

process_ended() { ! kill -0 "$1" 2>/dev/null; }

# The processes whose network namespace has this inode.
namespace_holders()
{
  find /proc -mindepth 3 -maxdepth 3 -path '/proc/[0-9]*/ns/net' -lname "net:\\[$1\\]" 2>/dev/null |
    sed 's|/ns/net$||' || true
}

failures=0
for case in "${cases[@]}"; do
  IFS='|' read -r name command signal expected <<<"$case"
  rm -f "$state"/*
  net=""
  "$testnet" session bash -c "$command" session "$state" "$testnet" &
  runner=$!
  problems=()
  if [ "$signal" != - ]; then
    wait_until test -e "$state/inodes" && kill -s "$signal" "$runner"
    if ! wait_until process_ended "$runner"; then
      problems+=("the runner did not end on SIG$signal")
      kill -KILL "$runner"
    fi
  fi
  status=0
  wait "$runner" || status=$?

  [ "$status" -eq "$expected" ] || problems+=("runner exited with $status, expected $expected")
  if [ -e "$state/inodes" ]; then
    net=$(cat "$state/name")
    ! ip netns list | grep -q "^$net-" || problems+=("namespaces left: $(ip netns list | grep "^$net-" | tr "\n" " ")")
    ! ip -o link show | grep -q ": $net" || problems+=("interfaces left: $(ip -o link show | grep ": $net")")
    while read -r inode; do
      holders=$(namespace_holders "$inode")
      [ -z "$holders" ] || problems+=("namespace $inode still held by ${holders//$'\n'/ }")
    done <"$state/inodes"
  else
    problems+=("the session's command did not run")
  fi
  if [ ${#problems[@]} -gt 0 ]; then
    for problem in "${problems[@]}"; do
      echo "$name: $problem" >&2
    done
    failures=$((failures + 1))
    [ -z "${net:-}" ] || "$testnet" down "$net"
  fi
done
[ "$failures" -eq 0 ]
