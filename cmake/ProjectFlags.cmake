# Flags every target of the project gets, set per target rather than globally.
#
# -ffp-contract=off: a fused multiply-add rounds once where the written arithmetic rounds twice, so
# contraction would make results depend on the CPU. The module's arithmetic is exact to the bit.
#
# -march=x86-64-v2 (x86-64 only): the baseline with SSE4.1, whose roundsd makes floor one instruction.
# Results are unchanged; the lattice node runs about a sixth faster (docs/performance.md).
#
# -fno-math-errno, and -Og rather than no optimisation in Debug: sqrt and floor are always the exact
# instructions, never calls into the C runtime, whose functions differ between platforms (mingw-w64's
# sqrt rounds twice on the x87 unit). With errno to set, the compiler keeps a call for a negative
# argument; without optimisation it expands no library function at all. No function of this project
# reads errno. The test math_calls reads the built module and runtime for such calls.
function(vantrel_target_flags target)
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
        set(instructionSet -march=x86-64-v2)
    endif()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -ffp-contract=off -fno-math-errno
        $<$<CONFIG:Debug>:-Og> ${instructionSet})
endfunction()

# A build with no type would be built without optimisation, with the calls above; MinSizeRel's -Os
# calls floor for shorter code.
if(NOT CMAKE_BUILD_TYPE)
    set(CMAKE_BUILD_TYPE Release CACHE STRING "Release, Debug or RelWithDebInfo" FORCE)
elseif(CMAKE_BUILD_TYPE STREQUAL "MinSizeRel")
    message(FATAL_ERROR "CMAKE_BUILD_TYPE MinSizeRel: -Os makes floor a call into the C runtime, whose "
        "results differ between platforms; use Release, Debug or RelWithDebInfo")
endif()

# vantrel_gcc12_false_positive(TARGET WARNING FILE...)
# GCC 12 at -O2 and -O3 reports impossible overlaps when it inlines std::string assignment (-Wrestrict,
# in <bits/char_traits.h>), and under the sanitizers an uninitialised std::function inside std::regex
# (-Wmaybe-uninitialized), which -Werror would turn into failures. The warning is turned off for that
# compiler only, and only in the files of TARGET where it was reported (found by building every preset
# without it); everywhere else, the module included, it stays an error.
function(vantrel_gcc12_false_positive target warning)
    set(gcc12 "$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>")
    set_property(SOURCE ${ARGN} TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS
        $<${gcc12}:-Wno-${warning}>)
endfunction()
