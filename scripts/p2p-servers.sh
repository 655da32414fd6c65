#!/usr/bin/env bash
# Starts the servers of the peer-to-peer layer as plain processes on one
# address: coturn (TURN relay, and the STUN server) and mosquitto (the
# signalling broker). Stops exactly the processes it started.
#
#   p2p-servers.sh start DIR --address ADDR [--mode MODE] [--broker-port N]
#                  [--relay-port N] [--relay-ports MIN-MAX]
#   p2p-servers.sh stop DIR
#
# Modes (what DIR/p2p.conf and the servers do):
#   direct          every candidate allowed; the relay relays when needed
#   relay-only      the init strings ask for relayed candidates only
#   relay-refusing  relay-only init strings whose credentials the relay rejects
#   broker-silent   the broker is stopped (SIGSTOP) once listening: the kernel
#                   accepts connections and nothing ever answers
#
# DIR gets p2p.conf (init_string_a..d), pids, the servers' configuration and
# logs. The servers bind ADDR only; nothing listens elsewhere.
set -euo pipefail

usage()
{
  sed -n '5,17s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

fail()
{
  echo "p2p-servers: $*" >&2
  exit 1
}

readonly USER_NAME=pppp PASSWORD=pppp REALM=pppp

# An init string: version 1, flags, then length-prefixed texts and
# big-endian ports, each byte as two letters A..P.
init_string()
{
  local broker=$1 broker_port=$2 relay=$3 relay_port=$4 user=$5 password=$6 flags=$7
  local bytes=(1 "$flags") i
  append_text() {
    local t=$1 k
    bytes+=("${#t}")
    for ((k = 0; k < ${#t}; k++)); do bytes+=("$(printf '%d' "'${t:k:1}")"); done
  }
  append_port() { bytes+=($(($1 >> 8)) $(($1 & 255))); }
  append_text "$broker"
  append_port "$broker_port"
  append_text "$relay"
  append_port "$relay_port"
  append_text "$user"
  append_text "$password"
  local letters=ABCDEFGHIJKLMNOP out=""
  for i in "${bytes[@]}"; do out+="${letters:i >> 4:1}${letters:i & 15:1}"; done
  echo "$out"
}

# Waits until something listens on ADDR:PORT (tcp or udp), 10 s at most.
wait_listening()
{
  local proto=$1 addr=$2 port=$3 pid=$4 flag=-Htln
  [ "$proto" = udp ] && flag=-Huln
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 1
    if ss "$flag" "src $addr" "sport = :$port" 2>/dev/null | grep -q .; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

start()
{
  local dir=$1 address="" mode=direct broker_port=1883 relay_port=3478 relay_ports=49152-49407
  shift
  while [ $# -gt 0 ]; do
    case $1 in
      --address) address=$2; shift 2 ;;
      --mode) mode=$2; shift 2 ;;
      --broker-port) broker_port=$2; shift 2 ;;
      --relay-port) relay_port=$2; shift 2 ;;
      --relay-ports) relay_ports=$2; shift 2 ;;
      *) usage ;;
    esac
  done
  [ -n "$address" ] || usage
  [[ $address =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "'$address' is not an IPv4 address"
  [[ $relay_ports =~ ^([0-9]+)-([0-9]+)$ ]] || fail "'$relay_ports' is not MIN-MAX"
  local min_port=${BASH_REMATCH[1]} max_port=${BASH_REMATCH[2]}
  case $mode in direct | relay-only | relay-refusing | broker-silent) ;; *) fail "unknown mode '$mode'" ;; esac
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  [ ! -s "$dir/pids" ] || fail "$dir/pids exists: stop those servers first"
  : >"$dir/pids"

  # The relay's own account; relay-refusing gives it another password than
  # the init strings carry.
  local server_password=$PASSWORD
  [ "$mode" = relay-refusing ] && server_password=not-$PASSWORD
  # No configuration file, no CLI, no TLS/DTLS, no TCP relay; the user
  # database, pid file and log live in DIR. Loopback peers are allowed because
  # the tests' peers are on 127.x.
  turnserver -n --listening-ip="$address" --relay-ip="$address" --listening-port="$relay_port" \
    --min-port="$min_port" --max-port="$max_port" --lt-cred-mech --user="$USER_NAME:$server_password" \
    --realm="$REALM" --userdb="$dir/turndb" --pidfile="$dir/turnserver.pid" --log-file="$dir/turnserver.log" \
    --simple-log --no-stdout-log --no-cli --no-tls --no-dtls --no-tcp-relay --allow-loopback-peers \
    --no-multicast-peers --no-software-attribute ${P2P_SERVERS_VERBOSE:+--verbose} >/dev/null 2>&1 &
  local turn_pid=$!
  echo "$turn_pid turnserver" >>"$dir/pids"

  cat >"$dir/mosquitto.conf" <<CONF
listener $broker_port $address
allow_anonymous true
persistence false
max_packet_size 65536
set_tcp_nodelay true
log_dest file $dir/mosquitto.log
CONF
  mosquitto -c "$dir/mosquitto.conf" >/dev/null 2>&1 &
  local broker_pid=$!
  echo "$broker_pid mosquitto" >>"$dir/pids"

  wait_listening udp "$address" "$relay_port" "$turn_pid" || fail "coturn did not start (see $dir/turnserver.log)"
  wait_listening tcp "$address" "$broker_port" "$broker_pid" || fail "mosquitto did not start (see $dir/mosquitto.log)"
  [ "$mode" = broker-silent ] && kill -STOP "$broker_pid"

  local flags=0
  [ "$mode" = relay-only ] || [ "$mode" = relay-refusing ] && flags=1
  local string
  string=$(init_string "$address" "$broker_port" "$address" "$relay_port" "$USER_NAME" "$PASSWORD" "$flags")
  {
    echo "# Peer-to-peer servers on $address, mode $mode"
    for key in a b c d; do echo "init_string_$key=$string"; done
  } >"$dir/p2p.conf"
}

# True while PID runs; a zombie has ended, whenever its parent reaps it.
running()
{
  local state
  state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

stop()
{
  local dir=$1 pid name
  [ -f "$dir/pids" ] || return 0
  while read -r pid name; do
    # Only a process that still runs the program we started: a pid may have
    # been reused since.
    if [ -z "$pid" ] || [ "$(cat "/proc/$pid/comm" 2>/dev/null)" != "$name" ]; then
      continue
    fi
    kill -CONT "$pid" 2>/dev/null || true
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
      running "$pid" || break
      sleep 0.05
    done
    if running "$pid"; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
  done <"$dir/pids"
  rm -f "$dir/pids"
}

[ $# -ge 2 ] || usage
case $1 in
  start) shift; start "$@" ;;
  stop) stop "$2" ;;
  *) usage ;;
esac
