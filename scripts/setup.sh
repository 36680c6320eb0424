#!/usr/bin/env bash
# Installs the Debian packages the updater needs to build, test and run its demo.
# Idempotent: the package lists are refreshed once, and only missing packages are installed.
# Usage: scripts/setup.sh [extra packages...] (the screenshot script asks for its own)
set -euo pipefail

packages=(
    cmake g++ ninja-build pkg-config
    qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n libgl-dev
    zlib1g-dev libtomcrypt-dev libtommath-dev libzstd-dev zstd
    fonts-dejavu-core nginx tinyproxy xvfb xauth curl openssl gzip time
    clang-format-14 python3 help2man dpkg-dev
    "$@"
)

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all packages present"
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
