#!/usr/bin/env bash
# qrn info reads every field from the module; the port and access string
# options reach the login.
set -euo pipefail
qrn=$1 probe_sim=$2
source "$(dirname "$0")/cli_lib.sh"

address=127.253.0.1
start_sim "$address:34674"
run_qrn info "$address"
table=("company: Kelvo Optics" "version: 1.2.3" "ID:      123456" "alias:   probe-sim" "MAC:     02:51:52:4E:00:01")
for line in "${table[@]}"; do
  expect_status 0 "$line" out "info"
done
# Nothing but the table: the library's trace lines stay off the tool's output.
printf '%s\n' "${table[@]}" | cmp -s - "$workdir/out" ||
  fail "info prints more than its table: $(cat -v "$workdir/out")"
run_qrn info --verbose "$address"
expect_status 0 "company: Kelvo Optics" out "info --verbose"

start_sim "$address:34690" --access secret
#      exit  stream  fragment                     arguments
cases=("0     out     company: Kelvo Optics        --port 34690 --access secret"
       "0     out     company: Kelvo Optics        --port=34690 --access=secret"
       "1     err     login refused                --port 34690 --access wrong"
       "1     err     cannot connect to $address   --port 34691 --access secret")
for entry in "${cases[@]}"; do
  read -r code file rest <<<"$entry"
  fragment=${rest%%  *}
  read -ra options <<<"${rest#*  }"
  run_qrn info "$address" "${options[@]}"
  expect_status "$code" "$fragment" "$file" "info ${options[*]}"
done
echo "info: all cases passed"
