#!/usr/bin/env bash
# Builds the tests with AddressSanitizer + UndefinedBehaviorSanitizer and,
# separately, with ThreadSanitizer, and runs the session, stream, audio,
# serial, hostile-module, trace, login and discovery tests under each, and the
# peer-to-peer layer's tests under the first (ThreadSanitizer cannot see the
# hand-overs through GLib's own locks and reports them as races). Any report
# fails the run.
# Usage: scripts/sanitize.sh [asan|tsan]...   (both when none is given)
set -euo pipefail
cd "$(dirname "$0")/.."

FILTER='SessionTest.*:StreamTest.*:StreamCalls.*:SpareElements.*:PendingWakeTest.*:AudioTest.*:SerialTest.*:SerialWithoutStream.*:HostileModule.*:StreamSend.*:Trace*:PublicHeader.*:Login*:*LoginAnswerTest.*:ScanTable.*:ScanInterval.*'

# Nothing a test does may reach the real device or broadcast addresses.
export KELVO_QRN_ADDRESS=127.0.0.1 KELVO_ML_ADDRESS=127.0.0.2 QRN_BCAST_ADDRS=127.255.255.255

build() {
  local dir=$1 flags=$2
  shift 2
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
    "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" \
    "-DCMAKE_EXE_LINKER_FLAGS=$flags" "-DCMAKE_SHARED_LINKER_FLAGS=$flags" >/dev/null
  cmake --build "$dir" -j2 --target qrn_tests "$@"
}

run() {
  local kind=$1
  case "$kind" in
    asan)
      build build-asan "-fsanitize=address,undefined -fno-omit-frame-pointer" pppp_tests pppp-peer
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        build-asan/tests/qrn_tests --gtest_filter="$FILTER"
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        build-asan/tests/pppp_tests
      ;;
    tsan)
      build build-tsan "-fsanitize=thread"
      TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        build-tsan/tests/qrn_tests --gtest_filter="$FILTER"
      ;;
    *)
      echo "unknown sanitizer: $kind (asan or tsan)" >&2
      exit 2
      ;;
  esac
}

kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(asan tsan)
for kind in "${kinds[@]}"; do
  run "$kind"
done
