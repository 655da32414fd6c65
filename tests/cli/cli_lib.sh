# Shared by the qrn tests: a work folder, simulators on the test's own
# loopback address, and cleanup whatever happens.
# The tests own 127.253.0.0/24: the GoogleTest suites take their addresses
# with a second byte from 1 to 250.

workdir=$(mktemp -d)
started_pids=()

cleanup() {
  for pid in "${started_pids[@]}"; do
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

# Waits up to seconds (default 10) for a file to contain text.
wait_for_text() {
  local file=$1 text=$2 seconds=${3:-10}
  local deadline=$((SECONDS + seconds))
  until grep -qF -- "$text" "$file" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

# start_sim ADDRESS:PORT [SIMULATOR ARGUMENTS...]: returns once it listens,
# with its output going to $sim_log.
start_sim() {
  local endpoint=$1
  shift
  sim_log="$workdir/sim-${endpoint//[:.]/-}.log"
  "$probe_sim" --listen "$endpoint" "$@" >"$sim_log" 2>&1 &
  started_pids+=($!)
  wait_for_text "$sim_log" "listening on $endpoint" || fail "the simulator did not start on $endpoint: $(cat "$sim_log")"
}

# run_qrn ARGUMENTS...: runs qrn, leaving its exit code in $status and its
# output in $workdir/out and $workdir/err.
run_qrn() {
  status=0
  "$qrn" "$@" >"$workdir/out" 2>"$workdir/err" || status=$?
}

# expect_status CODE FRAGMENT FILE DESCRIPTION: checks the last run_qrn.
expect_status() {
  local code=$1 fragment=$2 file=$3 description=$4
  [ "$status" -eq "$code" ] ||
    fail "$description: exit code $status, expected $code; stdout: $(cat "$workdir/out"); stderr: $(cat "$workdir/err")"
  grep -qF -- "$fragment" "$workdir/$file" ||
    fail "$description: '$fragment' missing from $file: $(cat "$workdir/$file")"
}
