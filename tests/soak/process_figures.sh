# shellcheck shell=bash
# Samples a process's open descriptors, threads and resident memory (KiB)
# from /proc twice a second into a file, one "fds threads rss" line each.

# sampler_start PID FILE
sampler_start()
{
  local pid=$1 file=$2
  (
    while [ -d "/proc/$pid" ]; do
      fds=$(find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)
      threads=$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status" 2>/dev/null)
      rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null)
      [ -n "$threads" ] && [ -n "$rss" ] && echo "$fds $threads $rss"
      sleep 0.5
    done
  ) >"$file" &
  sampler_pid=$!
}

sampler_stop()
{
  kill "$sampler_pid" 2>/dev/null || true
  wait "$sampler_pid" 2>/dev/null || true
}

# sampler_figures FILE: the peaks of the whole run, of its first half and of
# its second half, three figures each.
sampler_figures()
{
  awk '{ fds[NR] = $1; threads[NR] = $2; rss[NR] = $3 }
    function peaks(from, to,   i, f, t, r) {
      f = t = r = 0
      for (i = from; i <= to; i++) { if (fds[i] > f) f = fds[i]; if (threads[i] > t) t = threads[i]; if (rss[i] > r) r = rss[i] }
      return f " " t " " r
    }
    END { half = int(NR / 2); print peaks(1, NR), peaks(1, half), peaks(half + 1, NR) }' "$1"
}
