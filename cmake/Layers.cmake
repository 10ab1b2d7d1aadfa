# The layers of the project, the folders each owns and the folders its code may include from. One table
# serves the build, which gives each target a view of only its layer's folders, and the check
# (cmake/CheckLayers.cmake, a test), which reads every #include of every layer's files.
#
#   host     the interface headers: depend on nothing
#   quib     the host runtime behind them
#   scene    scene files and the graphs built from them, on top of the runtime
#   module   the plug-in module: reaches the runtime only through host/
#   nodes    the host's own node library, a second module built like the first: only host/ too
#   tools    the vantrel program, on top of the scenes
#   python   the Python package's extension, on top of the scenes and the render library
#   checks   tests, benchmarks and fuzz targets: white-box, they may include every layer
#
# Includes are written from the project root ("host/param.h"). A view is a folder of the build tree
# holding a link per folder the layer may include, and a target's only include root; so a header of
# another layer is not found, and the include fails to compile.
set(vantrelLayers host quib scene module nodes tools python checks)

set(vantrelLayerFolders_host host)
set(vantrelLayerIncludes_host host)

set(vantrelLayerFolders_quib quib)
set(vantrelLayerIncludes_quib host quib)

set(vantrelLayerFolders_scene scene)
set(vantrelLayerIncludes_scene host quib scene)

set(vantrelLayerFolders_module shell generators mappers)
set(vantrelLayerIncludes_module host shell generators mappers)

set(vantrelLayerFolders_nodes quib_nodes)
set(vantrelLayerIncludes_nodes host quib_nodes)

set(vantrelLayerFolders_tools tools)
set(vantrelLayerIncludes_tools host quib scene tools)

set(vantrelLayerFolders_python python)
set(vantrelLayerIncludes_python host quib scene tools python)

set(vantrelLayerFolders_checks tests bench fuzz)
set(vantrelLayerIncludes_checks host quib scene shell generators mappers quib_nodes tools python tests bench fuzz)

# vantrel_layer(TARGET LAYER)
# Makes the view of LAYER the only project include root of TARGET. Private: a target that links another
# gets none of its include roots, so what a file may include depends only on its own layer.
function(vantrel_layer target layer)
    if(NOT layer IN_LIST vantrelLayers)
        message(FATAL_ERROR "vantrel_layer(${target} ${layer}): no such layer; the layers are ${vantrelLayers}")
    endif()
    set(view ${PROJECT_BINARY_DIR}/layers/${layer})
    # Made afresh once a configure, so that a folder taken out of the table leaves no link behind.
    get_property(made GLOBAL PROPERTY vantrelLayerView_${layer})
    if(NOT made)
        file(REMOVE_RECURSE ${view})
        file(MAKE_DIRECTORY ${view})
        foreach(folder IN LISTS vantrelLayerIncludes_${layer})
            file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${view}/${folder} SYMBOLIC)
        endforeach()
        set_property(GLOBAL PROPERTY vantrelLayerView_${layer} TRUE)
    endif()
    target_include_directories(${target} PRIVATE ${view})
endfunction()
