#!/usr/bin/env bash
# qrn snapshot writes a whole JPEG file, with Huffman tables even when the
# module leaves them out, and fails cleanly when it cannot write.
set -euo pipefail
qrn=$1 probe_sim=$2
source "$(dirname "$0")/cli_lib.sh"

address=127.253.0.2
start_sim "$address:34674" --strip-dht
picture="$workdir/still.jpg"
run_qrn snapshot "$address" "$picture"
expect_status 0 "wrote $picture" out "snapshot"

hex=$(od -An -v -tx1 "$picture" | tr -d ' \n')
[ "${hex:0:4}" = "ffd8" ] || fail "the file starts with ${hex:0:4}, not ffd8"
[ "${hex: -4}" = "ffd9" ] || fail "the file ends with ${hex: -4}, not ffd9"
# Markers sit on even offsets of the hex text; a DHT segment is ff c4.
grep -qE '^(..)*ffc4' <<<"$hex" || fail "the picture has no Huffman table (DHT)"
size=$(stat -c %s "$picture")
grep -qF "($size bytes)" "$workdir/out" || fail "reported size differs from the file's $size bytes: $(cat "$workdir/out")"

run_qrn snapshot "$address" "$workdir/no-such-folder/still.jpg"
expect_status 1 "cannot write $workdir/no-such-folder/still.jpg" err "snapshot into a missing folder"
# A write that fails part-way is an error, not a picture.
run_qrn snapshot "$address" /dev/full
expect_status 1 "cannot write /dev/full" err "snapshot onto a full device"
[ -c /dev/full ] || fail "the failed snapshot removed /dev/full"
echo "snapshot: all cases passed"
