#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs. Run as root; does nothing when all are present.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev clang-format binutils
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    libcli11-dev nlohmann-json3-dev zlib1g-dev libpng-dev libopenexr-dev
    libnoise-dev libs2-dev
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
