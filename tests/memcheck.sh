#!/usr/bin/env bash
# Runs a test program under valgrind's memcheck: any invalid access or
# definite leak fails it. Some virtual machines hide an instruction from
# CPUID that their processor still runs (RDTSCP); a system library that uses
# it anyway (libhwy, which FFmpeg's JPEG XL codec loads, times itself with it
# as it loads) then stops under valgrind with SIGILL before any of our code
# runs. That is the machine's limit, not a finding: the test is skipped (77)
# with the reason.
#
#   memcheck.sh VALGRIND PROGRAM [ARGUMENT...]
set -uo pipefail
valgrind=$1
shift
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$valgrind" --quiet --error-exitcode=3 --leak-check=full --errors-for-leak-kinds=definite --log-file="$log" "$@"
status=$?
cat "$log" >&2
# The frame below valgrind's "Illegal opcode" line names the library.
if [ "$status" -ne 0 ] && grep -A1 'Illegal opcode at address' "$log" | grep -Eq '\(in /(usr/)?lib/'; then
  echo "memcheck: skipped: valgrind cannot run an instruction of a system library on this processor" >&2
  exit 77
fi
exit "$status"
