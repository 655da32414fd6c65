#!/usr/bin/env bash
# Builds the SDK alone from the source tree, as a packager would: tools and
# tests off, with libjpeg and GoogleTest out of reach. The configure may look
# for nothing but Threads and, through pkg-config, the peer-to-peer layer's
# three libraries (libnice, libmosquitto, json-glib); the install must hold
# exactly the header, the library, the pkg-config file and the CMake package.
# Usage: minimal_build_test.sh SOURCE CMAKE VERSION CC [CONFIGURE-ARGUMENT...]
set -euo pipefail
source_dir=$(realpath "$1") cmake=$2 version=$3 cc=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)

workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

build="$workdir/build" prefix="$workdir/prefix"
env -u PKG_CONFIG_PATH \
  "$cmake" -S "$source_dir" -B "$build" "$@" -DQRN_BUILD_TOOLS=OFF -DQRN_BUILD_TESTS=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_JPEG=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  --trace-redirect="$workdir/trace.log" >"$workdir/configure.log" 2>&1 ||
  fail "the SDK alone does not configure: $(cat "$workdir/configure.log")"

# Every search the project's own files make, from the trace
# ("/path/CMakeLists.txt(12):  find_package(Threads REQUIRED )").
searches=$(grep -E "^$source_dir/[^(]*\([0-9]+\): +(find_package|find_dependency|pkg_check_modules|pkg_search_module|find_library|find_path|find_file|find_program)\(" \
  "$workdir/trace.log" || true)
grep -q "find_package(Threads" <<<"$searches" || fail "the trace shows no find_package(Threads): is the trace read right?"
unexpected=$(grep -v -e "find_package(Threads" -e "find_package(PkgConfig" \
  -e "pkg_check_modules(PPPP_DEPS REQUIRED IMPORTED_TARGET nice libmosquitto json-glib-1.0 )" <<<"$searches" || true)
[ -z "$unexpected" ] || fail "the SDK alone looks for more than Threads and the peer-to-peer libraries:
$unexpected"

"$cmake" --build "$build" -j2 >"$workdir/build.log" 2>&1 || fail "the SDK alone does not build: $(cat "$workdir/build.log")"
"$cmake" --install "$build" --prefix "$prefix" >"$workdir/install.log" 2>&1 ||
  fail "the SDK alone does not install: $(cat "$workdir/install.log")"

library=$(find "$prefix" -name "libQRN_NET.so.$version")
[ -n "$library" ] || fail "no libQRN_NET.so.$version: $(cd "$prefix" && find . -type f)"
libdir=$(dirname "$library")
relative_libdir=${libdir#"$prefix"/}
[ "$(readlink "$libdir/libQRN_NET.so.1")" = "libQRN_NET.so.$version" ] || fail "libQRN_NET.so.1 does not point at the library"
[ "$(readlink "$libdir/libQRN_NET.so")" = "libQRN_NET.so.1" ] || fail "libQRN_NET.so does not point at the soname"

# Exactly these files: no tool, no test, nothing internal.
expected="include/qrn_net.h
$relative_libdir/cmake/QRN_NET/QRN_NETConfig.cmake
$relative_libdir/cmake/QRN_NET/QRN_NETConfigVersion.cmake
$relative_libdir/cmake/QRN_NET/QRN_NETTargets.cmake
$relative_libdir/libQRN_NET.so.$version
$relative_libdir/pkgconfig/qrn_net.pc"
installed=$(cd "$prefix" && find . -type f ! -name 'QRN_NETTargets-*.cmake' | sed 's|^\./||' | sort)
[ "$installed" = "$(sort <<<"$expected")" ] || fail "installed files differ from the SDK's:
$installed"
ls "$prefix/$relative_libdir"/cmake/QRN_NET/QRN_NETTargets-*.cmake >/dev/null 2>&1 || fail "no per-configuration targets file"
grep -qx "Version: $version" "$prefix/$relative_libdir/pkgconfig/qrn_net.pc" || fail "qrn_net.pc does not give version $version"

# The installed header and library are enough for a C program.
"$cc" -Wall -Werror -I"$prefix/include" -o "$workdir/consumer" "$here/consumer.c" -L"$libdir" -lQRN_NET ||
  fail "a C program does not build against the installed SDK"
status=0
LD_LIBRARY_PATH="$libdir" "$workdir/consumer" >/dev/null 2>"$workdir/consumer.log" || status=$?
[ "$status" -eq 2 ] && grep -q "^usage: consumer" "$workdir/consumer.log" ||
  fail "the consumer does not run against the installed library (status $status): $(cat "$workdir/consumer.log")"
# And through its CMake package.
"$cmake" -S "$here/consumer_project" -B "$workdir/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" \
  >"$workdir/consumer-configure.log" 2>&1 || fail "find_package(QRN_NET) fails: $(cat "$workdir/consumer-configure.log")"
"$cmake" --build "$workdir/consumer-build" >"$workdir/consumer-build.log" 2>&1 ||
  fail "the find_package consumer does not build: $(cat "$workdir/consumer-build.log")"
echo "minimal build: all checks passed"
