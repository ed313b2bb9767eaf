#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when any is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ googletest libgtest-dev libgmock-dev clang-format  # native build
    mingw-w64                                                               # Windows builds
    python3 python3-pefile                                                  # exe structure check
    wine wine64 fonts-wine xvfb imagemagick                                 # Wine end to end
    wine32:i386 qemu-system-x86 linux-image-amd64 busybox-static cpio        # 32-bit Wine in a VM
    osslsigncode openssl                                                    # signed releases
    strace                                                                  # what Wine does to files
)

missing=()
for package in "${packages[@]}"; do
    if [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != 'install ok installed' ]; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

# Root installs them itself; anyone else through sudo, which runs apt-get and dpkg and nothing
# else here. sudo passes on no variable it is not told to: --preserve-env names the one apt-get
# needs, which sudoers allows with the SETENV tag (implied for ALL).
export DEBIAN_FRONTEND=noninteractive
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo --preserve-env=DEBIAN_FRONTEND)
echo "Installing ${missing[*]}"
# wine32 is an i386 package; a 64-bit Debian takes it once told of the architecture.
if ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
    "${sudo[@]}" dpkg --add-architecture i386
fi
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
