#!/usr/bin/env bash
# Configures and builds everything into build/. Under CI (CI set) any
# compiler warning fails the build.
set -euo pipefail
cd "$(dirname "$0")/.."
warnings_as_errors=OFF
[ -z "${CI:-}" ] || warnings_as_errors=ON
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRN_WARNINGS_AS_ERRORS="$warnings_as_errors" >/dev/null
cmake --build build -j"$(nproc)"
