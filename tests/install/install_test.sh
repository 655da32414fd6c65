#!/usr/bin/env bash
# Installs the SDK into a fresh prefix and uses it the way outside programs
# do: a C program built through pkg-config, another through find_package,
# both run against the installed simulator; and the installed qrn.
set -euo pipefail
build=$1 version=$2 cmake=${3:-cmake}
here=$(cd "$(dirname "$0")" && pwd)

workdir=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$workdir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

prefix="$workdir/prefix"
"$cmake" --install "$build" --prefix "$prefix" >"$workdir/install.log"

# What is installed, and nothing internal.
[ -f "$prefix/include/qrn_net.h" ] || fail "no include/qrn_net.h"
library=$(find "$prefix" -name "libQRN_NET.so.$version")
[ -n "$library" ] || fail "no libQRN_NET.so.$version: $(cd "$prefix" && find . -type f)"
libdir=$(dirname "$library")
[ "$(readlink "$libdir/libQRN_NET.so.1")" = "libQRN_NET.so.$version" ] || fail "libQRN_NET.so.1 does not point at the library"
[ "$(readlink "$libdir/libQRN_NET.so")" = "libQRN_NET.so.1" ] || fail "libQRN_NET.so does not point at the soname"
objdump -p "$library" | grep -qE 'SONAME +libQRN_NET\.so\.1$' || fail "the soname is not libQRN_NET.so.1"
for program in qrn qrn-probe-sim; do
  [ -x "$prefix/bin/$program" ] || fail "no bin/$program"
done
unexpected=$(cd "$prefix" && find . -type f ! -path './include/qrn_net.h' ! -path './bin/qrn' ! -path './bin/qrn-probe-sim' \
  ! -name "libQRN_NET.so.$version" ! -name qrn_net.pc ! -path '*/cmake/QRN_NET/*')
[ -z "$unexpected" ] || fail "installed beyond the SDK: $unexpected"

# pkg-config, with the source and build trees out of reach.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion qrn_net)" = "$version" ] || fail "pkg-config reports version $(pkg-config --modversion qrn_net)"
# shellcheck disable=SC2046
cc -Wall -Werror -o "$workdir/consumer-pkgconfig" "$here/consumer.c" $(pkg-config --cflags --libs qrn_net) ||
  fail "the consumer does not build with pkg-config"

# find_package.
"$cmake" -S "$here/consumer_project" -B "$workdir/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" \
  >"$workdir/consumer-configure.log" 2>&1 || fail "find_package(QRN_NET) fails: $(cat "$workdir/consumer-configure.log")"
"$cmake" --build "$workdir/consumer-build" >"$workdir/consumer-build.log" 2>&1 ||
  fail "the find_package consumer does not build: $(cat "$workdir/consumer-build.log")"

address=127.253.0.20
"$prefix/bin/qrn-probe-sim" --listen "$address:34674" >"$workdir/sim.log" 2>&1 &
sim_pid=$!
deadline=$((SECONDS + 10))
until grep -qF "listening on $address:34674" "$workdir/sim.log"; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the installed simulator did not start: $(cat "$workdir/sim.log")"
  sleep 0.05
done

for consumer in "$workdir/consumer-pkgconfig" "$workdir/consumer-build/consumer"; do
  output=$(LD_LIBRARY_PATH="$libdir" "$consumer" "$address") || fail "$consumer failed: $output"
  [ "$output" = "company: Kelvo Optics" ] || fail "$consumer printed: $output"
done

# The installed qrn finds the installed library by itself.
loaded=$(ldd "$prefix/bin/qrn" | sed -n 's/^\s*libQRN_NET\.so\.1 => \(\S*\).*/\1/p')
[ -n "$loaded" ] && [ "$(realpath "$loaded")" = "$(realpath "$library")" ] ||
  fail "bin/qrn does not load the installed library: $(ldd "$prefix/bin/qrn")"
"$prefix/bin/qrn" info "$address" | grep -qx "company: Kelvo Optics" || fail "the installed qrn cannot read the module"
echo "install: all checks passed"
