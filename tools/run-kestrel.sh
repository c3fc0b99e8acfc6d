#!/bin/sh
# Runs KESTREL's main job: builds kestrel.exe and runs it under Wine. Until the
# session window exists, kestrel.exe serves a tape (by default the sample tape)
# to a simulated remote machine and prints what crosses the line.
#
#   tools/run-kestrel.sh [TAPE.tap [COMMANDS]]
set -eu
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target kestrel >/dev/null

tape="${1:-samples/demo.tap}"
shift $(( $# > 0 ? 1 : 0 ))
WINEPREFIX="$PWD/build/windows/wineprefix" exec tools/wine-run.sh build/windows/kestrel.exe "$tape" "$@"
