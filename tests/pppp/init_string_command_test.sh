#!/usr/bin/env bash
# pppp-init-string: what it prints decodes to what it was given; a string
# that does not decode is refused with the reason and status 1.
set -euo pipefail
tool=$1
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

string=$("$tool" --broker 127.10.9.9:1884 --relay relay.test:3479 --user alice --password s3cret --relay-only)
[[ $string =~ ^[A-P]+$ ]] || fail "not letters A..P: $string"
expected="broker=127.10.9.9:1884
relay=relay.test:3479
user=alice
password=s3cret
policy=relay-only"
[ "$("$tool" --decode "$string")" = "$expected" ] || fail "decoded: $("$tool" --decode "$string")"

# The defaults never leave loopback.
"$tool" --decode "$("$tool")" | grep -qx "broker=127.0.0.1:1883" || fail "default broker"
"$tool" --decode "$("$tool")" | grep -qx "relay=127.0.0.1:3478" || fail "default relay"

for bad in "ABQ" "AB" "ABA" "ACAA"; do
  if message=$("$tool" --decode "$bad" 2>&1); then
    fail "'$bad' decoded"
  fi
  [[ $message == "pppp-init-string: not an init string: "* ]] || fail "message for '$bad': $message"
done
for bad_option in "--broker nohostport" "--relay host:0" "--relay host:70000" "--user" "--frobnicate 1"; do
  # shellcheck disable=SC2086
  if "$tool" $bad_option >/dev/null 2>&1; then fail "accepted $bad_option"; fi
done
echo "pppp-init-string: ok"
