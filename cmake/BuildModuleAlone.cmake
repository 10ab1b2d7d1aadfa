# Configures and builds the module alone (and the host's node library beside it), as someone who has
# only a C++ compiler and nlohmann-json would:
#
#   cmake -DSOURCE=dir -DBUILD=dir [-DGENERATOR=Ninja] -P cmake/BuildModuleAlone.cmake
#
# Every other package the project looks for is made unfindable (CMAKE_DISABLE_FIND_PACKAGE_...), and the
# PATH holds only the compiler and the build tools, so a configure or build that still reached for
# another package, or for node and npm, fails.
cmake_minimum_required(VERSION 3.25)
set(others CLI11 ZLIB Threads OpenEXR PkgConfig GTest PNG benchmark)
set(disabled)
foreach(package IN LISTS others)
    list(APPEND disabled -DCMAKE_DISABLE_FIND_PACKAGE_${package}=ON)
endforeach()
file(REMOVE_RECURSE ${BUILD})
# A PATH of only a compiler, its binutils, the build tool and a shell: no node, no npm, nothing else.
set(path ${BUILD}/bin)
file(MAKE_DIRECTORY ${path})
foreach(tool c++ g++ gcc cc cpp as ld ld.bfd ar ranlib nm objdump strip ninja make sh uname)
    find_program(found ${tool} NO_CACHE)
    if(found)
        file(CREATE_LINK ${found} ${path}/${tool} SYMBOLIC)
    endif()
    unset(found)
endforeach()
set(generator)
if(GENERATOR)
    set(generator -G ${GENERATOR})
endif()
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env PATH=${path}
        ${CMAKE_COMMAND} -S ${SOURCE} -B ${BUILD}/tree ${generator} -DCMAKE_BUILD_TYPE=Release
        -DVANTREL_TOOLS=OFF -DVANTREL_TESTS=OFF -DVANTREL_EDITOR=OFF ${disabled}
    RESULT_VARIABLE configured)
if(NOT configured EQUAL 0)
    message(FATAL_ERROR "the module alone does not configure with only a compiler and nlohmann-json")
endif()
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env PATH=${path} ${CMAKE_COMMAND} --build ${BUILD}/tree --target VantrelFunctions QuibNodes
    RESULT_VARIABLE built)
if(NOT built EQUAL 0)
    message(FATAL_ERROR "the module alone does not build with only a compiler and nlohmann-json")
endif()
file(REMOVE_RECURSE ${BUILD})
message(STATUS "the module builds alone")
