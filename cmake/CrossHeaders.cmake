# vantrel_build_machine_headers(TARGET PATH)
#
# A header-only library of the build machine (/usr/include/PATH: a header in a folder of its own,
# "nlohmann/json.hpp", or alone, "xxhash.h") as the imported target TARGET, for a cross build. The cross
# compiler sees it through a folder of the build tree that holds nothing but links to such libraries
# (to the folder, or to the lone header), never the rest of the build machine's /usr/include, whose C
# library headers are not the target's.
function(vantrel_build_machine_headers target path)
    string(REGEX REPLACE "/.*" "" entry ${path})
    string(MAKE_C_IDENTIFIER ${entry} variable)
    find_path(${variable}_INCLUDE_DIR ${path} PATHS /usr/include
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(visible ${PROJECT_BINARY_DIR}/cross-include)
    file(MAKE_DIRECTORY ${visible})
    file(CREATE_LINK ${${variable}_INCLUDE_DIR}/${entry} ${visible}/${entry} SYMBOLIC)
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    target_include_directories(${target} SYSTEM INTERFACE ${visible})
endfunction()
