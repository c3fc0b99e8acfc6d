#!/bin/sh
# Runs KESTREL's main job: builds kestrel.exe and runs it under Wine, serving a tape
# to a remote machine. Without --device the remote machine is simulated on a
# pseudo-terminal and its report is printed; see tools/run_kestrel.py.
#
#   tools/run-kestrel.sh [--tape FILE.tap] [--script SCRIPT] [--device /dev/ttyUSB0]
set -eu
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target kestrel >/dev/null
exec python3 -B tools/run_kestrel.py "$@"
