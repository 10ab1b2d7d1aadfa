# add_quib_module(NAME LAYER SOURCES...)
#
# Builds a plug-in module for the host: a MODULE library named NAME.so (NAME.dll on Windows, no "lib"
# prefix) that exports exactly NumPlugs, Plugin and Version, its code in LAYER (cmake/Layers.cmake). Everything else is hidden, by visibility and
# by a version script (on Windows, by the module definition file windows/NAME.def). The sources are also
# compiled once into the object library NAME_objects, so that tests can link the node classes directly.
function(add_quib_module name layer)
    set(objects ${name}_objects)
    add_library(${objects} OBJECT ${ARGN})
    set_target_properties(${objects} PROPERTIES
        POSITION_INDEPENDENT_CODE ON
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    vantrel_layer(${objects} ${layer})
    vantrel_target_flags(${objects})

    if(WIN32)
        set(exports ${PROJECT_SOURCE_DIR}/windows/${name}.def)
        add_library(${name} MODULE $<TARGET_OBJECTS:${objects}> ${exports})
    else()
        set(exports ${PROJECT_SOURCE_DIR}/cmake/module_exports.map)
        add_library(${name} MODULE $<TARGET_OBJECTS:${objects}>)
        target_link_options(${name} PRIVATE -Wl,--version-script=${exports})
    endif()
    target_link_libraries(${name} PRIVATE quib)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
    set_target_properties(${name} PROPERTIES
        PREFIX ""
        LINK_DEPENDS ${exports})
endfunction()
