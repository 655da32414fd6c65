#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: on loopback, and as
# root also on a test network of namespaces (tests/net).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
# Nothing a test does may reach the real device or broadcast addresses.
export KELVO_QRN_ADDRESS=127.0.0.1 KELVO_ML_ADDRESS=127.0.0.2 QRN_BCAST_ADDRS=127.255.255.255
ctest --test-dir build --output-on-failure -j2
# The performance table still runs (its figures are not judged here).
bash bench/run --quick --build-dir build
