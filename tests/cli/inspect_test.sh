#!/usr/bin/env bash
# qrn inspect on end faces the simulator renders: the exit code is the
# verdict (0 pass, 3 fail, 4 cannot inspect, 2 bad command line), the report
# lands where asked, and the picture is never changed. No module is needed.
set -euo pipefail
qrn=$1
probe_sim=$2
source "$(dirname "$0")/cli_lib.sh"

render() {
  "$probe_sim" end-face "$workdir/$1" "${@:2}" >"$workdir/render.log" 2>&1 ||
    fail "the simulator did not render $1: $(cat "$workdir/render.log")"
}

render clean.jpg --seed 3 --clean
render dirty.jpg --seed 3 --defect particle:6:B
render pit.jpg --seed 5 --defect pit:12:A

run_qrn inspect "$workdir/clean.jpg"
expect_status 0 "verdict: pass" out "a clean end face"
for zone in "A     core" "B     cladding" "C     adhesive" "D     contact"; do
  grep -qF "$zone" "$workdir/out" || fail "the zone table lacks '$zone': $(cat "$workdir/out")"
done
grep -q "um/px (measured)" "$workdir/out" || fail "the scale is not reported as measured: $(cat "$workdir/out")"

run_qrn inspect "$workdir/dirty.jpg"
expect_status 3 "verdict: fail" out "a 6 um particle in zone B"
grep -qE "^B +cladding .* fail: " "$workdir/out" || fail "zone B is not the failing zone: $(cat "$workdir/out")"
grep -qE "particle +zone B " "$workdir/out" || fail "the particle is not listed in zone B: $(cat "$workdir/out")"

run_qrn inspect "$workdir/pit.jpg"
expect_status 3 "verdict: fail" out "a 12 um pit in the core"
grep -qE "^A +core .* fail: " "$workdir/out" || fail "zone A is not the failing zone: $(cat "$workdir/out")"

# A probe that knows its scale passes it; the truth gives the clean face's.
scale=$(sed -n 's/^ *"um_per_px": \([0-9.]*\).*/\1/p' "$workdir/clean.json")
[ -n "$scale" ] || fail "no um_per_px in the truth: $(cat "$workdir/clean.json")"
run_qrn inspect "$workdir/clean.jpg" --scale "$scale"
expect_status 0 "um/px (given)" out "a clean end face at a given scale"

# Pictures that allow no judgement: never a pass, always the reason.
printf 'not a picture' >"$workdir/garbage.jpg"
head -c 200 "$workdir/clean.jpg" >"$workdir/cut.jpg"
for case in garbage cut missing; do
  run_qrn inspect "$workdir/$case.jpg"
  expect_status 4 "verdict: cannot inspect" out "$case picture"
  grep -q "^qrn inspect: cannot inspect: ." "$workdir/err" || fail "$case picture: no reason given: $(cat "$workdir/err")"
done

# The report, into a folder that does not exist yet; the picture stays as it was.
before=$(sha256sum <"$workdir/dirty.jpg")
run_qrn inspect "$workdir/dirty.jpg" --report "$workdir/reports/today"
expect_status 3 "report: $workdir/reports/today/dirty.inspect.html" out "a report of a failing face"
[ "$(sha256sum <"$workdir/dirty.jpg")" = "$before" ] || fail "the report changed the picture"
[ "$(head -c 8 "$workdir/reports/today/dirty.inspect.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
  fail "dirty.inspect.png is not a PNG file"
grep -qF 'class="verdict fail"' "$workdir/reports/today/dirty.inspect.html" || fail "the page does not say fail"
grep -qF '<img src="dirty.inspect.png"' "$workdir/reports/today/dirty.inspect.html" || fail "the page does not show the picture"
[ "$(ls "$workdir/reports/today" | wc -l)" -eq 2 ] || fail "more than the two report files: $(ls "$workdir/reports/today")"

# Beside the picture, and a cannot-inspect picture gets a page saying why.
run_qrn inspect "$workdir/garbage.jpg" --report "$workdir"
expect_status 4 "report: $workdir/garbage.inspect.html" out "a report of an unreadable picture"
grep -qF "not a JPEG, PNG or BMP picture" "$workdir/garbage.inspect.html" || fail "the page does not give the reason"

# A report that cannot be written fails the command, whatever the verdict.
before=$(sha256sum <"$workdir/clean.jpg")
run_qrn inspect "$workdir/clean.jpg" --report "$workdir/clean.jpg/reports"
expect_status 1 "qrn inspect: cannot write the report: cannot create" err "a report folder under a file"
[ "$(sha256sum <"$workdir/clean.jpg")" = "$before" ] || fail "the failed report changed the picture"

expect_usage() {
  local fragment=$1
  shift
  run_qrn inspect "$@"
  expect_status 2 "$fragment" err "qrn inspect $*"
}
expect_usage "missing operand"
expect_usage "unexpected operand" "$workdir/clean.jpg" "$workdir/dirty.jpg"
expect_usage "the file name is empty" ""
expect_usage "--scale expects" "$workdir/clean.jpg" --scale 0
expect_usage "--scale expects" "$workdir/clean.jpg" --scale 11
expect_usage "--scale expects" "$workdir/clean.jpg" --scale 0.4um
expect_usage "--scale expects" "$workdir/clean.jpg" --scale nan
expect_usage "--scale needs a value" "$workdir/clean.jpg" --scale
expect_usage "the report directory is empty" "$workdir/clean.jpg" --report ""
expect_usage "unknown option '--bogus'" "$workdir/clean.jpg" --bogus
echo "inspect: all cases passed"
