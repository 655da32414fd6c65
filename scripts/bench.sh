#!/usr/bin/env bash
# Builds and runs the benchmarks on loopback. Numbers vary with the machine's
# load: run it on a quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export KELVO_QRN_ADDRESS=127.0.0.1 KELVO_ML_ADDRESS=127.0.0.2 QRN_BCAST_ADDRS=127.255.255.255
build/bench/stream_bench "$@"
build/bench/g711_bench
build/bench/p2p_bench
build/bench/inspect_bench
if [ -x build/bench/decode_bench ]; then
  build/bench/decode_bench
fi
