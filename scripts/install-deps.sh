#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, and the editor page's npm packages (editor/,
# `npm ci` from its lock file). Run as root; does nothing when all are present.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev clang-format binutils
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    libcli11-dev nlohmann-json3-dev libboost-dev libxxhash-dev pkgconf zlib1g-dev libpng-dev libopenexr-dev
    libnoise-dev libs2-dev libtinyobjloader-dev libtinygltf-dev
    # the Python package (python/), for Debian's interpreter /usr/bin/python3: the extension's headers, numpy,
    # pytest, what installing it into a virtual environment takes, and Dask's distributed scheduler with tqdm for
    # vantrel.distributed, and zarr for its chunked stores (docs/scale.md)
    python3-dev pybind11-dev python3-numpy python3-pytest python3-venv python3-pip python3-setuptools python3-wheel
    python3-distributed python3-tqdm python3-zarr
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 libz-mingw-w64-dev wine64
    # aarch64 (scripts/aarch64.sh): the cross compiler, qemu-user to run its programs, and Debian's arm64
    # packages beside the machine's own (multiarch): zlib for vantrel, the C and C++ runtimes to run on
    g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user
    zlib1g-dev:arm64 libstdc++6:arm64
    chromium
)
# The page is built with node and npm; a machine that has its own node (with its npm) keeps it.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    packages+=(nodejs npm)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -ne 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture arm64  # does nothing when dpkg knows it already
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The page's packages, exactly as locked; again only when the lock file changed since the last install.
stamp=editor/node_modules/.installed-lock.json
if ! cmp -s editor/package-lock.json "$stamp"; then
    echo "Installing the editor's npm packages"
    (cd editor && npm ci --no-audit --no-fund --loglevel=error)
    cp editor/package-lock.json "$stamp"
fi
