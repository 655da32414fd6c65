#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if missing.
set -euo pipefail
packages=(cmake make g++ pkg-config libgtest-dev libjpeg-dev libavcodec-dev libavutil-dev libswscale-dev valgrind iproute2
  # the viewer: Qt 5, OpenCV, HTTP for the second kind of module, a CJK font
  qtbase5-dev qtmultimedia5-dev libqt5multimedia5-plugins libqt5charts5-dev qttools5-dev qttools5-dev-tools
  libopencv-dev libcurl4-openssl-dev libmicrohttpd-dev fonts-wqy-microhei
  # the end-face evaluation reads the truth written beside each picture
  nlohmann-json3-dev
  # looking at the viewer, pressing its buttons, checking it against independent tools
  xvfb xauth imagemagick xdotool ffmpeg libjpeg-turbo-progs
  # reading the rendered user manuals, checking the desktop entry and its icon
  poppler-utils desktop-file-utils librsvg2-bin
  # the peer-to-peer layer: ICE, MQTT and JSON libraries; its relay and broker
  # for the tests; NAT in the test network
  libnice-dev libmosquitto-dev libjson-glib-dev coturn mosquitto nftables
  # the fuzz targets (libFuzzer in clang's run-time) and readable sanitizer reports
  clang libclang-rt-14-dev llvm)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"
fi
