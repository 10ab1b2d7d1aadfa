# The DLLs of mingw-w64's runtime and of zlib that the Windows programs and DLLs import, copied from the
# cross compiler's folders into bin/ beside them: Windows looks for a program's DLLs in its own folder
# first. scripts/windows.sh checks that nothing imports any other DLL but the system's.
set(VANTREL_WINDOWS_RUNTIME libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll zlib1.dll)

set(copies)
foreach(dll IN LISTS VANTREL_WINDOWS_RUNTIME)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
        OUTPUT_VARIABLE source OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${source}" OR NOT EXISTS "${source}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} finds no ${dll} (scripts/install-deps.sh installs it)")
    endif()
    set(copy ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${dll})
    add_custom_command(OUTPUT ${copy} COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
        DEPENDS ${source} COMMENT "Copying ${dll} beside the programs")
    list(APPEND copies ${copy})
endforeach()
add_custom_target(windows_runtime ALL DEPENDS ${copies})
