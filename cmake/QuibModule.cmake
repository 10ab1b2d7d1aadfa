# add_quib_module(NAME SOURCES...)
#
# Builds a plug-in module for the host: a MODULE library named NAME.so (no "lib" prefix) that exports
# exactly NumPlugs, Plugin and Version. Everything else is hidden, by visibility and by a version script.
# The sources are also compiled once into the object library NAME_objects, so that tests can link the
# node classes directly.
function(add_quib_module name)
    set(objects ${name}_objects)
    add_library(${objects} OBJECT ${ARGN})
    target_link_libraries(${objects} PUBLIC host)
    set_target_properties(${objects} PROPERTIES
        POSITION_INDEPENDENT_CODE ON
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    target_include_directories(${objects} PUBLIC ${PROJECT_SOURCE_DIR})
    vantrel_target_flags(${objects})

    add_library(${name} MODULE $<TARGET_OBJECTS:${objects}>)
    target_link_libraries(${name} PRIVATE quib)
    set(exports ${PROJECT_SOURCE_DIR}/cmake/module_exports.map)
    target_link_options(${name} PRIVATE
        -Wl,--version-script=${exports} -Wl,--no-undefined)
    set_target_properties(${name} PROPERTIES
        PREFIX ""
        LINK_DEPENDS ${exports}
        BUILD_RPATH "$ORIGIN"
        INSTALL_RPATH "$ORIGIN")
endfunction()
