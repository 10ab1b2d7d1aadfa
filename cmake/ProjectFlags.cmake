# Flags every target of the project gets, set per target rather than globally.
#
# -ffp-contract=off: a fused multiply-add rounds once where the written arithmetic rounds twice, so
# contraction would make results depend on the CPU. The module's arithmetic is exact to the bit.
function(vantrel_target_flags target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -ffp-contract=off)
endfunction()
