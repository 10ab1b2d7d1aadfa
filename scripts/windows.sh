#!/usr/bin/env bash
# The Windows stage: cross-compiles the host runtime, the module, the host's node library, vantrel and
# the tests for Windows with mingw-w64, optimised as on Linux (the windows preset), and checks them as
# Windows will see them:
#
#   - VantrelFunctions.dll and QuibNodes.dll each have their own DllMain and export exactly NumPlugs,
#     Plugin and Version;
#   - every program and DLL in build/windows/bin imports only DLLs that lie beside it there (quib.dll,
#     and mingw-w64's runtime and zlib, which the build copies), the C runtime and the system's own;
#     the modules only quib.dll among the built ones;
#   - neither quib.dll nor the modules call the C runtime for sqrt or floor (cmake/CheckMathCalls.cmake);
#
# and then runs them under Wine (windows/wine.sh): the tests that Windows can run (tests/CMakeLists.txt
# says which cannot, and why), vantrel.exe refuses an OpenEXR file, and its eval of
# every example scene and a render give the same bytes as the Linux vantrel (scripts/compare-eval.sh,
# which needs the release build's vantrel and lattice_tables: built here when they are not).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/windows
bin=$build/bin
cmake --preset windows >/dev/null
cmake --build --preset windows

objdump=x86_64-w64-mingw32-objdump
fail() {
    echo "windows: $*" >&2
    exit 1
}

# Whether a DLL is the C runtime, msvcrt.dll (what mingw-w64 links by default) or the universal one, or
# one of the system's, which every Windows has. Everything else must lie in bin/.
runtime_or_system() {
    case "${1,,}" in
        msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*.dll) return 0 ;;
        kernel32.dll | advapi32.dll | user32.dll | shell32.dll | ntdll.dll) return 0 ;;
    esac
    return 1
}

# (grep reads text held in variables: grep -q at the end of a pipe could stop the writer with SIGPIPE,
# which pipefail would count as a failure.)
modules=(VantrelFunctions QuibNodes)
for module in "${modules[@]}"; do
    dll=$bin/$module.dll
    headers=$($objdump -p "$dll")

    # The export names: the entries of objdump's "[Ordinal/Name Pointer] Table", one a line, "[   0] Name".
    exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' <<<"$headers" | sort)
    expected=$(printf '%s\n' NumPlugs Plugin Version)
    [ "$exports" = "$expected" ] || fail "$dll: exports $(echo $exports), expected exactly $(echo $expected)"

    # Every DLL gets a DllMain (the C runtime's empty one when the code has none): look for the module's
    # own in the object file that defines the exports.
    entry=$(find "$build" -path "*/${module}_objects.dir/*" -name 'module_entry.cpp.obj' | head -n 1)
    [ -n "$entry" ] || fail "no object file of $module's module_entry.cpp"
    grep -q ' T DllMain$' <<<"$(x86_64-w64-mingw32-nm "$entry")" || fail "$entry defines no DllMain"
    echo "windows: $dll exports exactly $(echo $exports), with DllMain"

    # The module, as the host loads it: the host's runtime, mingw-w64's C++ runtime, nothing else.
    for import in $(sed -n 's/^\s*DLL Name: //p' <<<"$headers"); do
        case "$import" in
            quib.dll | libstdc++-6.dll | libgcc_s_seh-1.dll | libwinpthread-1.dll) ;;
            *) runtime_or_system "$import" || fail "$dll imports $import: expected quib.dll, mingw-w64's runtime, the C runtime and the system's DLLs only" ;;
        esac
    done
done

# The import tables: every file's imports lie beside it in bin/.
for file in "$bin"/*.exe "$bin"/*.dll; do
    imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$($objdump -p "$file")")
    for import in $imports; do
        runtime_or_system "$import" && continue
        [ -f "$bin/$import" ] || fail "$file imports $import, which is neither beside it nor the system's"
    done
    echo "windows: $(basename "$file") imports $(echo $imports)"
done

cmake -DOBJDUMP=$objdump -DBINARY="$bin/VantrelFunctions.dll;$bin/QuibNodes.dll;$bin/quib.dll" \
    -P cmake/CheckMathCalls.cmake

# Under Wine. The prefix is made once, first: that takes some seconds. One Wine server serves the whole
# stage, kept running until the end: one that ended when idle could race a program starting meanwhile.
wine=windows/wine.sh
export WINEPREFIX=$PWD/$build/wine
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver64 -p
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null || true' EXIT
start=$SECONDS
"$wine" wineboot --init >"$build/wineboot.log" 2>&1 || fail "Wine could not make its prefix: $(cat "$build/wineboot.log")"
echo "windows: Wine prefix ready in $((SECONDS - start)) s"

ctest --preset windows -j "$(nproc)" --no-tests=error

status=0
message=$("$wine" "$bin/vantrel.exe" render examples/curve3.json -o "$build/x.exr" 2>&1) || status=$?
[ "$status" -eq 2 ] && grep -q 'writes PNG only' <<<"$message" ||
    fail "vantrel.exe render -o x.exr: expected exit status 2 and \"writes PNG only\", got $status: $message"
echo "windows: vantrel.exe refuses an OpenEXR file: $message"

cmake --preset release >/dev/null
cmake --build --preset release --target vantrel lattice_tables >/dev/null
scripts/compare-eval.sh --render windows "$bin" "$wine"
