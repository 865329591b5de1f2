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
# Each test program with windows starts an X server of its own, so no other
# test's windows can disturb what it looks at.
ctest --output-on-failure --parallel "$(nproc)" --timeout 600 "$@"
