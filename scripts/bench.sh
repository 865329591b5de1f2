#!/usr/bin/env bash
# Builds, then runs the live cases of the benchmark: the real main window on a
# headless X display large enough for a 3840 x 2160 canvas. About 8 minutes.
# Extra arguments go to lumenweave-bench (--benchmark_out=FILE.json,
# --benchmark_filter=REGEX, --live-seconds=N).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

"$root/scripts/build.sh"
uptime
xvfb-run -a -s "-screen 0 3900x2300x24 -noreset" \
  "$build_dir/bin/lumenweave-bench" --benchmark_filter='^live/' "$@"
uptime
