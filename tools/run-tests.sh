#!/bin/sh
# Runs every test of the project: the platform-neutral unit tests natively, again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the whole suite of the
# Windows build under Wine. Installs what it needs first. Exits non-zero when any
# build step or test fails.
set -eu
cd "$(dirname "$0")/.."

tools/install-deps.sh

export CTEST_OUTPUT_ON_FAILURE=1
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

for preset in native sanitize windows; do
    echo "== $preset: configure and build" >&2
    cmake --preset "$preset" -DKESTREL_WERROR=ON >/dev/null
    cmake --build --preset "$preset" -- -j2
    echo "== $preset: test" >&2
    ctest --preset "$preset" -j2 --timeout 600
done
echo "== all tests passed" >&2
