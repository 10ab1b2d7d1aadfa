# Flags every target of the project gets, set per target rather than globally.
#
# -ffp-contract=off: a fused multiply-add rounds once where the written arithmetic rounds twice, so
# contraction would make results depend on the CPU. The module's arithmetic is exact to the bit.
#
# -march=x86-64-v2 (x86-64 only): the baseline with SSE4.1, whose roundsd makes floor one instruction.
# Results are unchanged; the lattice node runs about a sixth faster (docs/performance.md).
#
# GCC 12 at -O3 reports two known false positives inside library headers, which -Werror would turn into
# failures: impossible overlaps when it inlines std::string assignment (-Wrestrict, <bits/char_traits.h>)
# and a "maybe uninitialized" member of nlohmann::json temporaries (-Wmaybe-uninitialized). Both are
# silenced for that compiler only; the sanitizer builds check the real thing.
function(vantrel_target_flags target)
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
        set(instructionSet -march=x86-64-v2)
    endif()
    set(gcc12 "$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -ffp-contract=off
        ${instructionSet} $<${gcc12}:-Wno-restrict -Wno-maybe-uninitialized>)
endfunction()
