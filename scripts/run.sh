#!/usr/bin/env bash
# Installs, builds and starts the application.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "lumenweave: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); run it from a desktop session, or under xvfb-run -a" >&2
  exit 1
fi
"$root/scripts/build.sh"
exec "$build_dir/bin/lumenweave"
