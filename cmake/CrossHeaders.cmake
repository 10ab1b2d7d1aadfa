# vantrel_build_machine_headers(TARGET FOLDER FILE)
#
# A header-only library of the build machine (/usr/include/FOLDER, found by FOLDER/FILE) as the
# imported target TARGET, for a cross build. The cross compiler sees it through a folder of the build
# tree that holds nothing but links to such libraries, never the rest of the build machine's
# /usr/include, whose C library headers are not the target's.
function(vantrel_build_machine_headers target folder file)
    find_path(${folder}_INCLUDE_DIR ${folder}/${file} PATHS /usr/include
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(visible ${PROJECT_BINARY_DIR}/cross-include)
    file(MAKE_DIRECTORY ${visible})
    file(CREATE_LINK ${${folder}_INCLUDE_DIR}/${folder} ${visible}/${folder} SYMBOLIC)
    add_library(${target} INTERFACE IMPORTED)
    target_include_directories(${target} SYSTEM INTERFACE ${visible})
endfunction()
