#!/usr/bin/env bash
# Installs, builds and runs every test headless (Xvfb, Mesa's software GL where there is no GPU).
# --sanitize: the same suite in a second tree (build-sanitize/, or $SANITIZE_BUILD_DIR) built with
# AddressSanitizer and UndefinedBehaviorSanitizer; any report fails the test it came from.
# Other arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

if [ "${1:-}" = "--sanitize" ]; then
  shift
  export BUILD_DIR="${SANITIZE_BUILD_DIR:-$root/build-sanitize}"
  "$root/scripts/build.sh" -DLUMENWEAVE_SANITIZE=ON
  # Leaks are reported except those of lsan.supp: objects the process keeps on
  # purpose, and the graphics and system libraries' own. use_tls=0: this
  # toolchain's leak checker now and then crashes at exit reading a thread's
  # dynamic TLS vector (about one run in twenty of a windowed test).
  export ASAN_OPTIONS="detect_leaks=1"
  export LSAN_OPTIONS="suppressions=$root/tests/sanitize/lsan.supp:print_suppressions=0:use_tls=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
else
  export BUILD_DIR="${BUILD_DIR:-$root/build}"
  "$root/scripts/build.sh" -DLUMENWEAVE_SANITIZE=OFF
fi
cd "$BUILD_DIR"
# One X server per parallel job; ctest hands each test program with windows a
# server no other test uses meanwhile (a program run by hand starts its own).
# -noreset: a client connecting while the server resets after the last one left would fail.
jobs="$(nproc)"
servers="$(mktemp -d)"
pids=()
stop_servers() {
  kill "${pids[@]}" 2>/dev/null || true
  wait "${pids[@]}" 2>/dev/null || true
  rm -rf "$servers"
}
trap stop_servers EXIT
for ((i = 0; i < jobs; i++)); do
  # Made here: the server's shell may open it only after the wait below looks.
  : >"$servers/$i"
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$servers/$i" 2>/dev/null &
  pids+=("$!")
done
displays=()
for ((i = 0; i < jobs; i++)); do
  # The server writes its display number and a newline once it accepts clients.
  for ((tries = 0; tries < 600; tries++)); do
    [ "$(wc -l <"$servers/$i")" -ge 1 ] && break
    sleep 0.1
  done
  number="$(head -n 1 "$servers/$i")"
  if [ -z "$number" ]; then
    echo "test.sh: Xvfb did not start" >&2
    exit 1
  fi
  displays+=("{\"id\": \"$number\"}")
done
(
  IFS=,
  echo "{\"version\": {\"major\": 1, \"minor\": 0}, \"local\": [{\"displays\": [${displays[*]}]}]}"
) >"$servers/displays.json"
ctest --resource-spec-file "$servers/displays.json" --output-on-failure --parallel "$jobs" \
  --timeout 600 "$@"
