# Reads every #include of every file of every layer and fails when one crosses a layer:
#
#   cmake [-DROOT=folder] -P cmake/CheckLayers.cmake        ROOT defaults to the project's root
#
# An include names a project folder when its first part is a folder of ROOT; that folder must be one the
# file's layer may include (cmake/Layers.cmake). No include may climb with "..": that would reach past
# the include root the build gives the layer. The build already refuses most crossings; this also reads
# the headers no file compiles and the paths no view could stop.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/Layers.cmake)
if(NOT ROOT)
    get_filename_component(ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
endif()

set(crossings 0)
set(files 0)
foreach(layer IN LISTS vantrelLayers)
    list(JOIN vantrelLayerIncludes_${layer} "/, " allowed)
    foreach(folder IN LISTS vantrelLayerFolders_${layer})
        file(GLOB_RECURSE sources LIST_DIRECTORIES false RELATIVE ${ROOT}
            ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.hpp ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.cc)
        list(SORT sources)
        foreach(source IN LISTS sources)
            math(EXPR files "${files} + 1")
            # One list element a line: the characters CMake's lists give a meaning to are blanked first.
            file(READ ${ROOT}/${source} text)
            string(REGEX REPLACE "[][;\\]" " " text "${text}")
            string(REPLACE "\n" ";" lines "${text}")
            set(number 0)
            foreach(line IN LISTS lines)
                math(EXPR number "${number} + 1")
                if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*([<\"]([^>\"]*)[>\"])")
                    continue()
                endif()
                set(written ${CMAKE_MATCH_1})
                set(path ${CMAKE_MATCH_2})
                set(fault "")
                if(path MATCHES "(^|/)\\.\\.(/|$)")
                    set(fault "climbs out of its folder with \"..\"")
                elseif(path MATCHES "^([^/]+)/")
                    set(target ${CMAKE_MATCH_1})
                    if(IS_DIRECTORY ${ROOT}/${target} AND NOT target IN_LIST vantrelLayerIncludes_${layer})
                        set(fault "reaches ${target}/")
                    endif()
                endif()
                if(fault)
                    math(EXPR crossings "${crossings} + 1")
                    message(NOTICE "${source}:${number}: #include ${written} ${fault}; "
                        "${layer} code may include only ${allowed}/")
                endif()
            endforeach()
        endforeach()
    endforeach()
endforeach()

if(files EQUAL 0)
    message(FATAL_ERROR "no source file in the layers' folders under ${ROOT}")
endif()
if(crossings GREATER 0)
    message(FATAL_ERROR "${crossings} includes across layers in ${files} files under ${ROOT}")
endif()
message(NOTICE "no include crosses a layer in ${files} files")
