# The source lists of the host runtime and of the module, named once for every build that makes them:
# the main project, and the Windows cross build in windows/.
set(sourceRoot ${CMAKE_CURRENT_LIST_DIR}/..)

set(quibSources
    ${sourceRoot}/quib/param.cpp
    ${sourceRoot}/quib/curve_holder.cpp
    ${sourceRoot}/quib/gradient.cpp
    ${sourceRoot}/quib/converter.cpp
    ${sourceRoot}/quib/function.cpp
    ${sourceRoot}/quib/stored_form.cpp
    ${sourceRoot}/quib/module_loader.cpp
    ${sourceRoot}/quib/scene.cpp
)

set(moduleSources
    ${sourceRoot}/shell/module_entry.cpp
    ${sourceRoot}/shell/node_frame.cpp
    ${sourceRoot}/generators/hex_lattice_geometry.cpp
    ${sourceRoot}/generators/hex_lattice.cpp
    ${sourceRoot}/generators/leapfrog_fractal.cpp
    ${sourceRoot}/mappers/curve3.cpp
    ${sourceRoot}/mappers/vector_to_color.cpp
    ${sourceRoot}/mappers/w_distortion.cpp
)
