# shellcheck shell=bash
# Lines of the table whose benchmark programs come with later parts of the
# project: peer-to-peer sessions and end-face inspection. Each is built when
# its CMake target exists, and its lines read "not built" until then. To add
# one: put its target in later_targets and run it in its function, with
# run_bench PROGRAM ARGS... (the program prints its own "row" lines, see
# bench_row.h).

later_targets=(p2p_bench inspect_bench)

# SDK receive over a direct and a relayed peer-to-peer session.
later_p2p_rows()
{
  if [ -x "$bench_bin/p2p_bench" ]; then
    run_bench p2p_bench
  else
    not_built "SDK receive, direct P2P, 1280x960 MJPEG" ">= 0.9 of plain TCP"
    not_built "SDK receive, relayed P2P, 1280x960 MJPEG" ">= 10x a live stream's rate"
  fi
}

# End-face inspection time per 1280 x 960 frame.
later_inspection_rows()
{
  if [ -x "$bench_bin/inspect_bench" ]; then
    run_bench inspect_bench
  else
    not_built "Inspection per 1280x960 frame, one core" "< 100 ms"
  fi
}
