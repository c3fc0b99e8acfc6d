#!/bin/sh
# Fuzzes with libFuzzer, ASan and UBSan, one target after the other: the tape image
# (loading, converting TZX files, taking tapes out of zip archives, cutting,
# checking and listing) and the table layer (opening and listing
# a table and its memo file). Each runs for SECONDS (default 60), or for N inputs
# with --runs N. Findings land in build/fuzz/findings/; the exit status is non-zero
# when there is one. The table target's seeds and dictionary are in
# fuzz/table_corpus/ and fuzz/table.dict; a finding, once fixed, joins the seeds.
#
#   tools/fuzz.sh [SECONDS | --runs N] [tape|table]
set -eu
cd "$(dirname "$0")/.."

limit="-max_total_time=${1:-60}"
if [ "${1:-}" = "--runs" ]; then
    limit="-runs=$2"
    shift 2
elif [ $# -gt 0 ]; then
    shift
fi
only="${1:-}"

tools/install-deps.sh clang libclang-rt-14-dev
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -- -j2 tape_image_fuzz table_listing_fuzz >/dev/null

mkdir -p build/fuzz/findings
status=0

if [ -z "$only" ] || [ "$only" = tape ]; then
    corpus=build/fuzz/corpus
    mkdir -p "$corpus"
    for tape in samples/*.tap; do
        [ -f "$tape" ] && { printf '\000'; cat "$tape"; } > "$corpus/$(basename "$tape")"
    done
    # The sample's TZX twin, whole and (input kind 2) as blocks after the header.
    python3 tools/tapfile.py tzx samples/demo.tap --with-extras -o build/fuzz/demo.tzx
    { printf '\000'; cat build/fuzz/demo.tzx; } > "$corpus/demo.tzx"
    { printf '\002'; tail -c +11 build/fuzz/demo.tzx; } > "$corpus/demo-blocks.tzx"
    # (Input kind 3) a zip archive holding the sample, made by Python's zipfile.
    python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED).write(sys.argv[2], "demo.tap")' \
        build/fuzz/demo.zip samples/demo.tap
    { printf '\003'; cat build/fuzz/demo.zip; } > "$corpus/demo.zip"
    build/fuzz/fuzz/tape_image_fuzz "$limit" -max_len=70000 \
        -artifact_prefix=build/fuzz/findings/ "$corpus" || status=1
fi

if [ -z "$only" ] || [ "$only" = table ]; then
    mkdir -p build/fuzz/table-corpus
    build/fuzz/fuzz/table_listing_fuzz "$limit" -max_len=4096 -dict=fuzz/table.dict \
        -artifact_prefix=build/fuzz/findings/table- build/fuzz/table-corpus \
        fuzz/table_corpus || status=1
fi
exit $status
