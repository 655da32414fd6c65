#!/usr/bin/env bash
# The SDK without the viewer: installs what is missing, builds, starts the
# probe simulator on loopback and uses it through the qrn tool: discovery,
# identity, three seconds of live video, a still picture.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
# Loopback only: the device and broadcast addresses are never reached.
export KELVO_QRN_ADDRESS=${KELVO_QRN_ADDRESS:-127.0.0.1}
export KELVO_ML_ADDRESS=${KELVO_ML_ADDRESS:-127.0.0.2}
export QRN_BCAST_ADDRS=$KELVO_QRN_ADDRESS
build/tools/probe_sim/qrn-probe-sim --listen "$KELVO_QRN_ADDRESS:34674" --discovery &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null' EXIT
ready=0
for _ in $(seq 50); do
  if build/tools/examples/qrn-hello "$KELVO_QRN_ADDRESS"; then ready=1; break; fi
  sleep 0.1
done
[ "$ready" = 1 ] || exit 1
build/tools/qrn/qrn scan --once
build/tools/qrn/qrn info "$KELVO_QRN_ADDRESS"
build/tools/qrn/qrn stream "$KELVO_QRN_ADDRESS" --seconds 3
build/tools/qrn/qrn snapshot "$KELVO_QRN_ADDRESS" build/end-face.jpg
echo "still picture written to build/end-face.jpg"
