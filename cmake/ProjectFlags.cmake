# Flags every target of the project gets, set per target rather than globally.
#
# -ffp-contract=off: a fused multiply-add rounds once where the written arithmetic rounds twice, so
# contraction would make results depend on the CPU. The module's arithmetic is exact to the bit.
#
# -Wno-restrict for GCC 12: its -O3 inlining of std::string assignment reports impossible overlaps in
# <bits/char_traits.h> (a known false positive of that release), which -Werror would turn into a failure.
function(vantrel_target_flags target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -ffp-contract=off
        $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>)
endfunction()
