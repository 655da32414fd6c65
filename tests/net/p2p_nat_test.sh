#!/usr/bin/env bash
# A host and a device each behind its own NAT, the broker and the relay on
# the "public" side between them, all in namespaces of this test:
#
#   host 192.168.1.2 -- nat-h [192.168.1.1 | 10.99.1.2] --+
#                                                          pub 10.99.1.1, 10.99.2.1,
#   dev  192.168.2.2 -- nat-d [192.168.2.1 | 10.99.2.2] --+    servers on 10.99.0.1
#                                                          |
#                                                          up (default route, drops all)
#
# Behind NATs that keep the source port the session comes up direct (each end
# reaches the other's server-reflexive address); behind NATs that pick a new
# random port per destination it comes up relayed by itself.
#
#   p2p_nat_test.sh PPPP_PEER P2P_SERVERS_SCRIPT [QRN SIMULATOR [VIEWER]]
#
# With QRN and SIMULATOR each case also streams video through the SDK: the
# simulated module registered by device ID behind the device's NAT, and
# 'qrn stream' behind the host's. With VIEWER the viewer's network source
# then shows that module's picture, on a private Xvfb behind the host's NAT.
#
# P2P_NAT_LOGS=DIR keeps the programs' and servers' logs there.
set -euo pipefail
peer=$1 servers=$2 qrn=${3:-} simulator=${4:-} viewer=${5:-}
readonly SKIP=77
test_name=p2p_nat_test

fail()
{
  echo "$test_name: $*" >&2
  exit 1
}

skip()
{
  if [ -n "${QRN_TESTNET_REQUIRED:-}" ]; then
    fail "$* (QRN_TESTNET_REQUIRED is set)"
  fi
  echo "$test_name: skipped: $*" >&2
  exit "$SKIP"
}

[ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
command -v ip >/dev/null || skip "'ip' is missing (install iproute2)"
command -v nft >/dev/null || skip "'nft' is missing (install nftables)"

if [ -n "$viewer" ]; then
  for tool in Xvfb xdotool import convert; do
    command -v "$tool" >/dev/null || skip "'$tool' is missing (bash scripts/install-deps.sh installs it)"
  done
  # shellcheck source-path=SCRIPTDIR/../../scripts source=viewer_window.sh
  source "$(dirname "$0")/../../scripts/viewer_window.sh"
fi

net=qpn$$
roles="up pub nath natd host dev"
work=$(mktemp -d)

# Ends everything still running in our namespaces, then deletes them.
cleanup()
{
  local role pids
  # Xvfb unlinks its socket file as it exits; waiting keeps that from
  # removing the file of a server that a next test starts on the same number.
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  if [ -f "$work/servers/pids" ]; then
    bash "$servers" stop "$work/servers" || true
  fi
  for role in $roles; do
    [ -e "/run/netns/$net-$role" ] || continue
    pids=$(ip netns pids "$net-$role" 2>/dev/null || true)
    # shellcheck disable=SC2086
    [ -z "$pids" ] || kill -KILL $pids 2>/dev/null || true
    ip netns delete "$net-$role" 2>/dev/null || true
  done
  [ -z "${P2P_NAT_LOGS:-}" ] || cp -r "$work" "$P2P_NAT_LOGS"
  rm -rf "$work"
}
trap cleanup EXIT

in_ns()
{
  local role=$1
  shift
  ip netns exec "$net-$role" "$@"
}

for role in $roles; do
  error=$(ip netns add "$net-$role" 2>&1) || skip "cannot create network namespaces here: $error"
  ip -n "$net-$role" link set lo up
done

# link A B A_ADDRESS B_ADDRESS: a veth pair between two of our namespaces.
link()
{
  local a=$1 b=$2 a_address=$3 b_address=$4 error
  # Each end is named after the namespace it leads to.
  error=$(ip -n "$net-$a" link add "to-$b" type veth peer name "to-$a" netns "$net-$b" 2>&1) ||
    skip "cannot create veth pairs here: $error"
  ip -n "$net-$a" addr add "$a_address" dev "to-$b"
  ip -n "$net-$b" addr add "$b_address" dev "to-$a"
  ip -n "$net-$a" link set "to-$b" up
  ip -n "$net-$b" link set "to-$a" up
}
# The public side has a way on, as on the internet: what the relay sends to
# a private address leaves by the default route and is dropped upstream
# without a word. Without it the relay's send fails, and coturn then tears
# down the whole allocation, relayed candidate and all.
link up pub 10.99.255.1/30 10.99.255.2/30
ip -n "$net-pub" route add default via 10.99.255.1
ip -n "$net-up" route add blackhole default
link pub nath 10.99.1.1/24 10.99.1.2/24
link pub natd 10.99.2.1/24 10.99.2.2/24
link nath host 192.168.1.1/24 192.168.1.2/24
link natd dev 192.168.2.1/24 192.168.2.2/24
ip -n "$net-pub" addr add 10.99.0.1/32 dev lo
ip -n "$net-nath" route add default via 10.99.1.1
ip -n "$net-natd" route add default via 10.99.2.1
ip -n "$net-host" route add default via 192.168.1.1
ip -n "$net-dev" route add default via 192.168.2.1
for role in up pub nath natd; do
  in_ns "$role" sh -c 'echo 1 >/proc/sys/net/ipv4/ip_forward'
done

# nat ROLE WAN [OPTION]: masquerade what leaves through WAN, and let nothing
# in from there that the LAN side did not start.
nat()
{
  local role=$1 wan=$2 option=${3:-}
  in_ns "$role" nft -f - <<NFT || skip "nftables NAT is not available here"
flush ruleset
table ip nat {
  chain postrouting {
    type nat hook postrouting priority srcnat;
    oifname "$wan" masquerade $option
  }
}
table ip filter {
  chain forward {
    type filter hook forward priority filter; policy drop;
    ct state established,related accept
    iifname != "$wan" accept
  }
  # A probe that arrives before the LAN side sent anything is dropped here,
  # before its connection-tracking entry is confirmed: a confirmed entry
  # would take the mapping the LAN side is about to need.
  chain input {
    type filter hook input priority filter; policy accept;
    iifname "$wan" ct state new drop
  }
}
NFT
}

in_ns pub bash "$servers" start "$work/servers" --address 10.99.0.1 --mode direct >/dev/null ||
  fail "the servers did not start"
init=$(sed -n 's/^init_string_a=//p' "$work/servers/p2p.conf")

# run_case LABEL NAT_OPTION EXPECTED_MODE
case_number=0
run_case()
{
  local label=$1 option=$2 expected=$3
  expected_mode=$expected
  case_number=$((case_number + 1))
  local id="SQRN-NAT-$case_number" device_log="$work/device$case_number.log" output
  nat nath to-pub "$option"
  nat natd to-pub "$option"
  in_ns dev "$peer" device --id "$id" --init "$init" --sessions 1 >"$device_log" 2>&1 &
  local device_pid=$!
  for _ in $(seq 100); do
    grep -q "^registered" "$device_log" && break
    sleep 0.05
  done
  grep -q "^registered" "$device_log" || fail "$label: the device did not register: $(cat "$device_log")"
  output=$(in_ns host "$peer" host --id "$id" --init "$init" --bytes 300000 2>"$work/host$case_number.log") ||
    fail "$label: the session failed: $output"
  wait "$device_pid" || true
  grep -qx "session mode=$expected connect_ms=[0-9]*" <<<"$output" ||
    fail "$label: expected a $expected session: $output"
  grep -qx "echo intact" <<<"$output" || fail "$label: the echo was not intact: $output"
  grep -qx "accepted mode=$expected" "$device_log" || fail "$label: the device saw: $(cat "$device_log")"
  echo "$label: $(grep '^session' <<<"$output")"
  [ -z "$qrn" ] || stream_through_sdk "$label"
}

# stream_through_sdk LABEL: the SDK's video by device ID through the same NATs.
stream_through_sdk()
{
  local label=$1 id="SQRNNATSDKCASE$case_number" log="$work/simulator$case_number.log" output frames
  in_ns dev "$simulator" --device-id "$id" --p2p "$work/servers/p2p.conf" >"$log" 2>&1 &
  local simulator_pid=$!
  for _ in $(seq 100); do
    grep -q "registered as" "$log" && break
    sleep 0.05
  done
  grep -q "registered as" "$log" || fail "$label: the simulator did not register: $(cat "$log")"
  output=$(in_ns host env QRN_P2P_CONFIG="$work/servers/p2p.conf" "$qrn" stream "$id" --seconds 2 2>&1) ||
    fail "$label: qrn stream failed: $output"
  frames=$(sed -n 's/^frames: *\([0-9]*\).*/\1/p' <<<"$output")
  # 30 frames a second for 2 s.
  [ -n "$frames" ] && [ "$frames" -ge 20 ] || fail "$label: too few frames through the SDK: $output"
  echo "$label: the SDK streamed $frames frames"
  [ -z "$viewer" ] || show_in_viewer "$label" "$id"
  kill "$simulator_pid" && wait "$simulator_pid" || true
}

# show_in_viewer LABEL ID: the viewer, its address the device ID, shows the
# module's live picture after Connect, over a session of the case's mode.
show_in_viewer()
{
  local label=$1 id=$2 dir="$work/viewer$case_number" viewer_pid window
  mkdir -p "$dir/tmp"
  if [ -z "${xvfb_pid:-}" ]; then
    start_xvfb "$work" || fail "Xvfb did not start"
    export DISPLAY
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY
  fi
  # WiFi chosen; the second kind of module refuses at once on the host's own
  # loopback, so the viewer goes on to the SDK and the device ID. Its trace
  # lines go out line by line: the session's mode is read from them.
  printf '[General]\nKEY_CAMERA_TYPE_STR=1\nLANG_STR=1\n' >"$dir/applicaiton.ini"
  (
    cd "$dir"
    HOME=$dir TMPDIR=$dir/tmp KELVO_QRN_ADDRESS=$id KELVO_ML_ADDRESS=127.0.0.2 QRN_BCAST_ADDRS=127.255.255.255 \
      QRN_P2P_CONFIG="$work/servers/p2p.conf" exec ip netns exec "$net-host" "$viewer"
  ) >"$dir/viewer.log" 2>&1 &
  viewer_pid=$!
  window=$(viewer_window "$viewer_pid" 30) || fail "$label: the viewer showed no window: $(cat "$dir/viewer.log")"
  wait_for_button 15 || fail "$label: Connect did not show: $(cat "$dir/viewer.log")"
  press_connect "$window" || fail "$label: Connect could not be pressed"
  wait_for_video 30 "$dir/connected.png" ||
    fail "$label: no picture in the viewer within 30 s: $(tail -n 20 "$dir/viewer.log")"
  grep -q "p2p session [0-9]* to $id is up, $expected_mode" "$dir/viewer.log" ||
    fail "$label: the viewer's session was not $expected_mode: $(grep 'p2p session' "$dir/viewer.log")"
  kill "$viewer_pid" 2>/dev/null || true
  wait "$viewer_pid" 2>/dev/null || true
  [ -z "${P2P_NAT_SCREENSHOTS:-}" ] || cp "$dir/connected.png" "$P2P_NAT_SCREENSHOTS/viewer$case_number.png"
  echo "$label: the viewer showed the picture over a $expected_mode session"
}

run_case "port-preserving NATs" "" direct
run_case "NATs with random ports" "random" relayed
run_case "NATs with fully random ports" "fully-random" relayed
echo "$test_name: ok"
