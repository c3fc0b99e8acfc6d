#!/bin/sh
# Fuzzes loading and cutting the tape image with libFuzzer for a while (default
# 60 seconds). Findings land in build/fuzz/findings/; the exit status is non-zero
# when there is one.
#
#   tools/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."

tools/install-deps.sh clang libclang-rt-14-dev
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

corpus=build/fuzz/corpus
mkdir -p "$corpus" build/fuzz/findings
for tape in samples/*.tap; do
    [ -f "$tape" ] && { printf '\000'; cat "$tape"; } > "$corpus/$(basename "$tape")"
done
exec build/fuzz/fuzz/tape_image_fuzz -max_total_time="${1:-60}" -max_len=70000 \
    -artifact_prefix=build/fuzz/findings/ "$corpus"
