#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
#   BUILD_DIR   build folder (default: build)
#   CMAKE_FLAGS extra configure flags, e.g. -DQUORVANE_SANITIZE=ON
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-build}"
cd "$root"
"$root/tests/install-test-packages.sh"
# shellcheck disable=SC2086
cmake -S . -B "$build" -G Ninja -DQUORVANE_TESTS=ON ${CMAKE_FLAGS:-}
cmake --build "$build" -j"$(nproc)"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j2 --timeout 600
