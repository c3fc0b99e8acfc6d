#!/bin/sh
# Fuzzes loading, converting (TZX files) and cutting the tape image with libFuzzer
# for a while (default 60 seconds). Findings land in build/fuzz/findings/; the exit
# status is non-zero when there is one.
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
# The sample's TZX twin, whole and (input kind 2) as blocks after the header.
python3 tools/tapfile.py tzx samples/demo.tap --with-extras -o build/fuzz/demo.tzx
{ printf '\000'; cat build/fuzz/demo.tzx; } > "$corpus/demo.tzx"
{ printf '\002'; tail -c +11 build/fuzz/demo.tzx; } > "$corpus/demo-blocks.tzx"
exec build/fuzz/fuzz/tape_image_fuzz -max_total_time="${1:-60}" -max_len=70000 \
    -artifact_prefix=build/fuzz/findings/ "$corpus"
