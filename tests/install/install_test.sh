#!/usr/bin/env bash
# Installs the SDK into a fresh prefix and uses it the way outside programs
# do: a C program built through pkg-config, another through find_package,
# both run against the installed simulator; and the installed qrn. With the
# viewer built (VIEWER 1), also the viewer as a desktop program: the program,
# its manuals, its menu entry and icon.
# Usage: install_test.sh BUILD VERSION [CMAKE [VIEWER]]
set -euo pipefail
build=$1 version=$2 cmake=${3:-cmake} viewer=${4:-0}
here=$(cd "$(dirname "$0")" && pwd)

workdir=$(mktemp -d)
sim_pid="" viewer_pid=""
cleanup() {
  for pid in $sim_pid $viewer_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
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
for program in qrn qrn-probe-sim pppp-init-string; do
  [ -x "$prefix/bin/$program" ] || fail "no bin/$program"
done
viewer_files=(bin/KelvoWiFi share/doc/KelvoWiFi/User_Manual_CN.pdf share/doc/KelvoWiFi/User_Manual_EN.pdf
  share/applications/KelvoWiFi.desktop share/icons/hicolor/scalable/apps/KelvoWiFi.svg)
viewer_filter=()
if [ "$viewer" = 1 ]; then
  for file in "${viewer_files[@]}"; do
    viewer_filter+=(! -path "./$file")
  done
fi
unexpected=$(cd "$prefix" && find . -type f ! -path './include/qrn_net.h' ! -path './bin/qrn' ! -path './bin/qrn-probe-sim' \
  ! -path './bin/pppp-init-string' \
  ! -name "libQRN_NET.so.$version" ! -name qrn_net.pc ! -path '*/cmake/QRN_NET/*' "${viewer_filter[@]}")
[ -z "$unexpected" ] || fail "installed beyond the SDK and the viewer: $unexpected"

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

if [ "$viewer" = 1 ]; then
  for file in "${viewer_files[@]}"; do
    [ -s "$prefix/$file" ] || fail "no $file"
  done
  [ -x "$prefix/bin/KelvoWiFi" ] || fail "bin/KelvoWiFi is not executable"
  for manual in "$prefix"/share/doc/KelvoWiFi/User_Manual_*.pdf; do
    pages=$(pdfinfo "$manual" | sed -n 's/^Pages: *//p')
    [ "${pages:-0}" -ge 2 ] || fail "$manual is not a manual of several pages"
  done

  # The menu entry starts the installed program by name and shows its icon.
  entry="$prefix/share/applications/KelvoWiFi.desktop"
  if command -v desktop-file-validate >/dev/null; then
    report=$(desktop-file-validate "$entry" 2>&1) || fail "the desktop entry is not valid: $report"
  else
    echo "desktop-file-validate is not installed: the entry's syntax is not checked"
  fi
  grep -qx 'Exec=KelvoWiFi' "$entry" || fail "the desktop entry does not run KelvoWiFi"
  grep -qx 'Icon=KelvoWiFi' "$entry" || fail "the desktop entry does not name the KelvoWiFi icon"
  if command -v rsvg-convert >/dev/null; then
    rsvg-convert -w 48 -h 48 "$prefix/share/icons/hicolor/scalable/apps/KelvoWiFi.svg" -o "$workdir/icon.png" ||
      fail "the icon does not render"
    [ -s "$workdir/icon.png" ] || fail "the icon renders to nothing"
  else
    echo "rsvg-convert is not installed: the icon is not rendered"
  fi

  # The installed viewer finds its libraries and starts; a second start
  # finds it running. Its socket and settings stay in scratch folders.
  missing=$(ldd "$prefix/bin/KelvoWiFi" | grep 'not found' || true)
  [ -z "$missing" ] || fail "bin/KelvoWiFi misses libraries: $missing"
  if ldd "$prefix/bin/KelvoWiFi" | grep -q 'libQRN_NET\.so'; then
    loaded=$(ldd "$prefix/bin/KelvoWiFi" | sed -n 's/^\s*libQRN_NET\.so\.1 => \(\S*\).*/\1/p')
    [ "$(realpath "$loaded")" = "$(realpath "$library")" ] || fail "bin/KelvoWiFi does not load the installed library"
  fi
  mkdir -m 700 "$workdir/tmp" "$workdir/runtime"
  mkdir "$workdir/home"
  export TMPDIR="$workdir/tmp" XDG_RUNTIME_DIR="$workdir/runtime" QT_QPA_PLATFORM=offscreen
  (cd "$workdir/home" && exec "$prefix/bin/KelvoWiFi") >"$workdir/viewer.log" 2>&1 &
  viewer_pid=$!
  deadline=$((SECONDS + 10))
  until [ -S "$TMPDIR/KelvoWiFi" ]; do
    kill -0 "$viewer_pid" 2>/dev/null || fail "the installed viewer ended: $(cat "$workdir/viewer.log")"
    [ "$SECONDS" -lt "$deadline" ] || fail "the installed viewer does not start: $(cat "$workdir/viewer.log")"
    sleep 0.05
  done
  second=$(cd "$workdir/home" && "$prefix/bin/KelvoWiFi" 2>&1) || fail "a second start failed: $second"
  grep -qx 'KelvoWiFi already running.' <<<"$second" || fail "a second start printed: $second"
fi
echo "install: all checks passed"
