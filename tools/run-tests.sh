#!/bin/sh
# Runs every test of the project: the formatting check, the platform-neutral unit
# tests natively, again under AddressSanitizer and UndefinedBehaviorSanitizer, the
# tests whose threads share data under ThreadSanitizer, and the whole suite of the
# Windows build under Wine. Installs what it needs first. Exits non-zero when any
# check, build step or test fails.
set -eu
cd "$(dirname "$0")/.."

tools/install-deps.sh

export CTEST_OUTPUT_ON_FAILURE=1
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1}"

echo "== format: clang-format --dry-run on every C++ file" >&2
find src tests tools bench fuzz \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run --Werror

for preset in native sanitize tsan windows; do
    echo "== $preset: configure and build" >&2
    cmake --preset "$preset" -DKESTREL_WERROR=ON >/dev/null
    cmake --build --preset "$preset" -- -j2
    echo "== $preset: test" >&2
    ctest --preset "$preset" -j2 --timeout 600
done
echo "== all tests passed" >&2
