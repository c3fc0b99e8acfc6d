#!/bin/sh
# Installs, from Debian's or Ubuntu's packages, whatever the build and the tests
# need and this machine lacks. Quiet and quick when everything is there already.
#
#   tools/install-deps.sh [EXTRA-PACKAGE...]
set -eu

PACKAGES="cmake ninja-build g++ make python3 googletest clang-format g++-mingw-w64-x86-64 mingw-w64
wine64 xvfb xauth xdotool socat imagemagick util-linux binutils-mingw-w64-x86-64
python3-dbfread python3-dbf fuse-emulator-utils dpkg-dev file groff-base libarchive-dev unzip $*"

missing=""
for package in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0

echo "install-deps: installing$missing" >&2
if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
elif command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
else
    echo "install-deps: missing packages:$missing (run as root or install sudo)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
