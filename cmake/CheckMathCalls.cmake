# Fails when a built library calls the C runtime for an operation the processor does exactly in one
# instruction: sqrt, floor, ceil and trunc, in double or float.
#
#   cmake -DOBJDUMP=objdump -DBINARY=file... -P cmake/CheckMathCalls.cmake
#
# The instruction is exact; a runtime's function need not be (mingw-w64's sqrt rounds twice on the x87
# unit), so a call would make results depend on the platform. The compiler calls the function where
# errno must be set (-fno-math-errno stops that), where it does not expand builtins (-O0) and where it
# prefers the shorter code (-Os).
cmake_minimum_required(VERSION 3.25)
if(NOT OBJDUMP OR NOT BINARY)
    message(FATAL_ERROR "usage: cmake -DOBJDUMP=objdump -DBINARY=file... -P CheckMathCalls.cmake")
endif()

set(calls 0)
foreach(binary IN LISTS BINARY)
    execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${binary}
        OUTPUT_VARIABLE code RESULT_VARIABLE status ERROR_VARIABLE errors)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${OBJDUMP} -d ${binary} failed: ${errors}")
    endif()
    # A call or a tail jump to the function: on x86-64 "call 6130 <sqrt@plt>", "jmp <floor>", "call *...
    # <__imp_sqrt>", on aarch64 "bl 6130 <sqrt@plt>", "b <floor@plt>" (the instructions are fsqrt and
    # frintm). The mnemonic follows a blank, so an address ending in b does not pass for one. Names in a
    # longer one (_ZSt4sqrtf, libstdc++'s inline overload) do not match.
    string(REGEX MATCHALL "[ \t](call|jmp|bl?)[ \t][^\n]*<(__imp_)?(sqrt|floor|ceil|trunc)f?(@plt)?>"
        found "${code}")
    list(LENGTH found count)
    if(count GREATER 0)
        math(EXPR calls "${calls} + ${count}")
        list(REMOVE_DUPLICATES found)
        list(JOIN found "\n  " lines)
        message(NOTICE "${binary}: ${count} calls into the C runtime's arithmetic:\n  ${lines}")
    endif()
endforeach()
if(calls GREATER 0)
    message(FATAL_ERROR "${calls} calls to sqrt, floor, ceil or trunc where the instruction is exact")
endif()
message(NOTICE "no call to sqrt, floor, ceil or trunc in ${BINARY}")
