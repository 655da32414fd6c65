#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: on loopback, and as
# root also on a test network of namespaces (tests/net). Then the suite once
# more under AddressSanitizer with UndefinedBehaviorSanitizer, the SDK and
# camera tests under ThreadSanitizer, and each fuzz target for a short
# while. Any failure, sanitizer report or fuzz finding fails the run; the
# time of each stage is printed at the end. The quick benchmark table runs
# after the plain tests, only to show it still runs.
# --plain stops after the plain tests and that table. QRN_FUZZ_SECONDS sets
# the time of each fuzz target (default 25).
# Usage: scripts/test.sh [--plain]
set -euo pipefail
cd "$(dirname "$0")/.."
plain_only=0
[ "${1:-}" != --plain ] || plain_only=1

timings=()
trap 'printf "%s\n" "${timings[@]}"' EXIT
stage() {
  local name=$1 start=$SECONDS
  shift
  echo "=== $name"
  "$@"
  timings+=("$(printf '%-20s %5d s' "$name" $((SECONDS - start)))")
}

plain_tests() {
  # Nothing a test does may reach the real device or broadcast addresses.
  KELVO_QRN_ADDRESS=127.0.0.1 KELVO_ML_ADDRESS=127.0.0.2 QRN_BCAST_ADDRS=127.255.255.255 \
    ctest --test-dir build --output-on-failure -j2
}

stage dependencies bash scripts/install-deps.sh
stage build bash scripts/build.sh
stage tests plain_tests
# The performance table still runs (its figures are not judged here).
stage bench-quick bash bench/run --quick --build-dir build
[ "$plain_only" -eq 0 ] || exit 0
stage asan+ubsan bash scripts/sanitize.sh asan
stage tsan bash scripts/sanitize.sh tsan
stage fuzz bash fuzz/run "${QRN_FUZZ_SECONDS:-25}"
