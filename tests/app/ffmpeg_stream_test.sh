#!/usr/bin/env bash
# ml_camera reads the Motion-JPEG stream that ffmpeg's own HTTP server sends
# (chunked, boundary "ffmpeg"): once labelled multipart/x-mixed-replace, once
# with ffmpeg's default application/octet-stream, where the boundary must be
# found in the body.
#   ffmpeg_stream_test.sh READER labelled|unlabelled ADDRESS
set -euo pipefail
reader=$1
mode=$2
address=$3
port=1880  # below the range the SDK binds its data ports in
command -v ffmpeg >/dev/null || { echo "ffmpeg not installed"; exit 77; }

work=$(mktemp -d)
server=""
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

ffmpeg -nostdin -v error -f lavfi -i testsrc=size=320x240:rate=25 -t 6 -c:v mjpeg -q:v 5 "$work/clip.avi"

label=()
if [ "$mode" = labelled ]; then
  label=(-content_type "multipart/x-mixed-replace;boundary=ffmpeg")
fi
ffmpeg -nostdin -v error -re -i "$work/clip.avi" -c:v mjpeg -f mpjpeg "${label[@]}" \
  -listen 1 "http://$address:$port/stream" &
server=$!

KELVO_ML_ADDRESS="$address:$port" "$reader" 25 320 240 20
