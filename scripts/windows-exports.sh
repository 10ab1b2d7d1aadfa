#!/usr/bin/env bash
# Cross-compiles the module and the host runtime for Windows with mingw-w64, optimised as on Linux (the
# windows preset), and checks the module as the host will see it: VantrelFunctions.dll has the module's
# own DllMain, imports the host runtime quib.dll, and exports exactly NumPlugs, Plugin and Version; and
# neither DLL calls the C runtime for sqrt or floor (cmake/CheckMathCalls.cmake).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/windows
cmake --preset windows >/dev/null
cmake --build --preset windows

dll=$build/bin/VantrelFunctions.dll
objdump=x86_64-w64-mingw32-objdump
fail() {
    echo "windows-exports: $dll: $*" >&2
    exit 1
}

# (grep reads text held in variables: grep -q at the end of a pipe could stop the writer with SIGPIPE,
# which pipefail would count as a failure.)
headers=$($objdump -p "$dll")

# The export names: the entries of objdump's "[Ordinal/Name Pointer] Table", one a line, "[   0] Name".
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' <<<"$headers" | sort)
expected=$(printf '%s\n' NumPlugs Plugin Version)
[ "$exports" = "$expected" ] || fail "exports $(echo $exports), expected exactly $(echo $expected)"

# Every DLL gets a DllMain (the C runtime's empty one when the code has none): look for the module's own
# in the object file that defines the exports.
entry=$(find "$build" -name 'module_entry.cpp.obj' | head -n 1)
[ -n "$entry" ] || fail "no object file of module_entry.cpp"
grep -q ' T DllMain$' <<<"$(x86_64-w64-mingw32-nm "$entry")" || fail "module_entry.cpp defines no DllMain"

grep -q 'DLL Name: quib.dll' <<<"$headers" || fail "does not import quib.dll"

cmake -DOBJDUMP=$objdump -DBINARY="$dll;$build/bin/quib.dll" -P cmake/CheckMathCalls.cmake

echo "windows-exports: $dll exports exactly $(echo $exports), with DllMain, importing quib.dll;" \
    "no call to the C runtime's sqrt or floor"
