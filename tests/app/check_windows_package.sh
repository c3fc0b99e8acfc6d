#!/bin/sh
# Makes the Windows build's zip (cpack -G ZIP) in a temporary folder and checks it:
# kestrel-VERSION-win64.zip holding exactly the tool, tables_demo, the README and the
# sample tape, and a kestrel.exe that, stripped for the package, is still the
# self-contained program with its manifest (check_kestrel_exe.sh).
#
#   check_windows_package.sh BUILD-DIR VERSION OBJDUMP
set -eu
build="$1"
version="$2"
objdump="$3"
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$folder" >/dev/null
zip="$folder/kestrel-$version-win64.zip"
top="kestrel-$version-win64"
found=$(unzip -Z1 "$zip" | grep -v '/$' | sort | tr '\n' ' ')
wanted="$top/README.md $top/kestrel.exe $top/samples/demo.tap $top/tables_demo.exe "
if [ "$found" != "$wanted" ]; then
    echo "the zip holds: $found"
    echo "instead of:    $wanted"
    exit 1
fi
unzip -q "$zip" -d "$folder"
exec "$(dirname "$0")/check_kestrel_exe.sh" "$objdump" "$folder/$top/kestrel.exe"
