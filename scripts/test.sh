#!/usr/bin/env bash
# Installs what the build needs, then builds and runs every check, stopping at the first that fails:
#
#   1. release  the optimised build and every test, the editor page's in chromium among them
#   2. asan     every test again under AddressSanitizer, UndefinedBehaviorSanitizer (float-cast-overflow
#               too, no recovery) and LeakSanitizer, but the browser's (they test the page, and the
#               server's HTTP tests run here), the module's build alone (a build, not a program) and the
#               Python package's (an instrumented extension in an interpreter that is not would need the
#               sanitizer runtimes preloaded, and the interpreter's own allocations judged as leaks: the
#               preset does not build it)
#   3. tsan     the tests labelled concurrency under ThreadSanitizer, with only what they need built
#   4. fuzz     each fuzz target for a short fixed time (scripts/fuzz.sh)
#   5. windows  the runtime, the module and vantrel cross-compiled with mingw-w64, their export and
#               import tables, and vantrel.exe under Wine against the Linux vantrel (scripts/windows.sh)
#   6. aarch64  the runtime, the module and vantrel cross-compiled for 64-bit Arm and run under qemu-user:
#               every example's numbers against the release build's (scripts/aarch64.sh)
#
# This is what CI runs (.ci/run); the README says how long it takes. Each stage prints its own time.
#
# The test programs that load the module with dlopen are instrumented themselves, so the sanitizer
# runtimes are in the process before the module arrives: no LD_PRELOAD is needed, and the programs they
# start (vantrel) are instrumented executables of their own.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
stage() {
    printf '\n==== %s: %s\n' "$1" "$2"
    SECONDS=0
}
done_stage() {
    printf '==== %s passed in %d s\n' "$1" "$SECONDS"
}
# The sanitizers of GCC 12 expect the memory layout of a kernel that randomises addresses with at most
# 28 bits; newer kernels may use more. Where the machine lets a process turn randomisation off, the
# sanitized tests and the fuzz targets run without it.
fixed_layout=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
    fixed_layout=(setarch "$(uname -m)" -R)
fi

stage deps "the Debian packages"
scripts/install-deps.sh
done_stage deps

stage release "optimised build, every test"
cmake --preset release >/dev/null
cmake --build --preset release
ctest --preset release -j "$jobs" --no-tests=error
done_stage release

stage asan "AddressSanitizer + UndefinedBehaviorSanitizer + LeakSanitizer, every test"
cmake --preset asan >/dev/null
cmake --build --preset asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "${fixed_layout[@]}" ctest --preset asan -j "$jobs" --no-tests=error -LE "browser|standalone|python"
done_stage asan

stage tsan "ThreadSanitizer, the concurrency tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target concurrency_test render_core_test mesh_domain_test
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    "${fixed_layout[@]}" ctest --preset tsan -L concurrency -j "$jobs" --no-tests=error
done_stage tsan

stage fuzz "every fuzz target for a short fixed time"
"${fixed_layout[@]}" scripts/fuzz.sh 60
done_stage fuzz

stage windows "the runtime, the module and vantrel for Windows: exports, imports, the same numbers under Wine"
scripts/windows.sh
done_stage windows

stage aarch64 "the runtime, the module and vantrel for aarch64 under qemu-user, against x86-64"
scripts/aarch64.sh
done_stage aarch64

printf '\n==== every check passed\n'
