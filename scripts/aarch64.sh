#!/usr/bin/env bash
# Cross-compiles the host runtime, the module, the host's node library, vantrel and lattice_tables for
# 64-bit Arm Linux, optimised as on x86-64 (the aarch64 preset), and checks them as they run there, under
# qemu-user: none of the libraries calls the C runtime for sqrt or floor (cmake/CheckMathCalls.cmake), and every example scene evaluates
# to the same numbers as the x86-64 build, the lattice's tables and a rendered PNG included
# (scripts/compare-eval.sh), which needs the release build's vantrel and lattice_tables: built here when
# they are not.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release --target vantrel lattice_tables >/dev/null

build=build/aarch64
cmake --preset aarch64 >/dev/null
cmake --build --preset aarch64

cmake -DOBJDUMP=aarch64-linux-gnu-objdump \
    -DBINARY="$build/bin/VantrelFunctions.so;$build/bin/QuibNodes.so;$build/bin/libquib.so" \
    -P cmake/CheckMathCalls.cmake

# No -L: the programs run on Debian's arm64 runtimes, which install where an arm64 system has them
# (cmake/aarch64-linux-gnu.cmake).
scripts/compare-eval.sh --render aarch64 "$build/bin" qemu-aarch64
