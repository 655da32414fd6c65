#!/usr/bin/env bash
# Installs what is missing, builds, starts the probe simulator on loopback
# and reads the simulated probe through the SDK.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export KELVO_QRN_ADDRESS=${KELVO_QRN_ADDRESS:-127.0.0.1}
export KELVO_ML_ADDRESS=${KELVO_ML_ADDRESS:-127.0.0.2}
export QRN_BCAST_ADDRS=${QRN_BCAST_ADDRS:-127.255.255.255}
build/tools/probe_sim/qrn-probe-sim --listen "$KELVO_QRN_ADDRESS:34674" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null' EXIT
for _ in $(seq 50); do
  build/tools/examples/qrn-hello "$KELVO_QRN_ADDRESS" && exit 0
  sleep 0.1
done
exit 1
