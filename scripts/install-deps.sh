#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when any is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ googletest libgtest-dev libgmock-dev clang-format  # native build
    mingw-w64                                                               # Windows builds
    python3 python3-pefile                                                  # exe structure check
    wine wine64 fonts-wine xvfb imagemagick                                 # Wine end to end
    osslsigncode openssl                                                    # signed releases
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
