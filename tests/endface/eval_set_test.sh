#!/usr/bin/env bash
# Generates a small seeded evaluation set and one chosen end face, and checks
# the inspection against their truth.
set -euo pipefail
sim=$1
eval_tool=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

"$sim" end-face-set "$dir/set" --seed 20261210 --count 60
test "$(ls "$dir/set" | grep -c '\.json$')" -eq 60
"$eval_tool" "$dir/set" --check

# A chosen flaw lands in the truth where it was asked for.
"$sim" end-face "$dir/one.jpg" --seed 4 --defect particle:6:B --scratch 2:25:D
grep -q '"zone": "B"' "$dir/one.json"
grep -q '"diameter_um": 6.0' "$dir/one.json"
grep -q '"verdict": "fail"' "$dir/one.json"
"$sim" end-face "$dir/clean.jpg" --seed 4 --clean
grep -q '"verdict": "pass"' "$dir/clean.json"
# Bad requests are refused.
if "$sim" end-face "$dir/bad.jpg" --defect crumb:6:B 2>/dev/null; then
  echo "an unknown defect kind was accepted" >&2
  exit 1
fi
echo ok
