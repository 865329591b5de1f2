#!/usr/bin/env bash
# Installs, builds and runs every test headless (Xvfb, Mesa's software GL where there is no GPU).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

"$root/scripts/build.sh"
cd "$build_dir"
# -noreset: a test connecting while the server resets after the last client left would fail.
xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" \
  ctest --output-on-failure --parallel "$(nproc)" --timeout 600 "$@"
