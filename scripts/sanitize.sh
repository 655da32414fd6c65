#!/usr/bin/env bash
# Sanitizer runs of the test suite, each in a build of its own:
#   asan  AddressSanitizer with UndefinedBehaviorSanitizer over everything:
#         every ctest test, the viewer's QtTests, the simulator and the tool
#         (build-asan).
#   tsan  ThreadSanitizer over the SDK's tests (label sdk), the peer-to-peer
#         layer's and sessions by device ID (label p2p) and the camera
#         sources' tests (label camera) (build-tsan).
# Any report fails the run. scripts/sanitizers/lsan.supp leaves out only
# outside libraries' own leaks.
# Usage: scripts/sanitize.sh [asan|tsan]...   (both when none is given)
set -euo pipefail
cd "$(dirname "$0")/.."
supp="$PWD/scripts/sanitizers"

# Nothing a test does may reach the real device or broadcast addresses.
export KELVO_QRN_ADDRESS=127.0.0.1 KELVO_ML_ADDRESS=127.0.0.2 QRN_BCAST_ADDRS=127.255.255.255

configure() {
  local dir=$1 kind=$2
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRN_SANITIZE="$kind" "${launcher[@]}" >/dev/null
}

run() {
  local kind=$1
  case "$kind" in
    asan)
      # Also for the build: it runs the manual renderer, a Qt program.
      export ASAN_OPTIONS=detect_leaks=1
      export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
      export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
      configure build-asan address
      cmake --build build-asan -j"$(nproc)"
      # The bounded waits of the tests stretch with the sanitizers' cost.
      QRN_TEST_TIME_SCALE=3 ctest --test-dir build-asan --output-on-failure -j2
      ;;
    tsan)
      # Qt is not instrumented: its futex-based QMutex hands objects between
      # threads (queued signals, a finished QThread) in ways TSan cannot see.
      # Accesses that Qt's own code makes through TSan's interceptors are
      # therefore left out; every access in our code is still checked.
      export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1"
      configure build-tsan thread
      cmake --build build-tsan -j"$(nproc)" --target qrn_tests qrn_p2p_tests pppp_tests pppp-peer \
        ml_camera_test mlnetcamera_test netcamera_test usbcamera_test
      QRN_TEST_TIME_SCALE=6 ctest --test-dir build-tsan --output-on-failure -j2 -L 'sdk|camera|p2p'
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
