/// @file
/// The module's face to the host: three exports by plain name, and the table of node types behind them.

#include <iterator>
#include <new>
#include <type_traits>

#include "generators/hex_lattice.h"
#include "generators/leapfrog_fractal.h"
#include "mappers/curve3.h"
#include "mappers/vector_to_color.h"
#include "mappers/w_distortion.h"

#ifdef _WIN32
#include <windows.h>
#define VANTREL_EXPORT extern "C" __declspec(dllexport)
#else
#define VANTREL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

/// A new descriptor of class `Plug`, or null when its memory could not be had. A descriptor holds no
/// data, so making one throws nothing.
template <class Plug>
Plugin* MakePlug() noexcept {
    static_assert(std::is_nothrow_default_constructible_v<Plug>);
    return new (std::nothrow) Plug();
}

/// The registry, in index order; a type's class id is firstClassId + its index.
constexpr Plugin* (*registry[])() noexcept = {
    MakePlug<FHexLatticePlug>,       // 0  "Hexagonal lattice 3D(1)"
    MakePlug<FVectorToColorPlug>,    // 1  "Vector to color"
    MakePlug<FCurve3Plug>,           // 2  "Curve3"
    MakePlug<FWDistortionPlug>,      // 3  "W Distortion"
    MakePlug<FLeapFrogFractalPlug>,  // 4  "Leapfrog fractal"
};
constexpr unsigned int plugCount = std::size(registry);

}  // namespace

// No export lets an exception out (an exception that crosses into a host built by another compiler
// ends the host's process); none of them can throw.

/// The number of node types: 5, on every call.
VANTREL_EXPORT int NumPlugs() noexcept {
    return plugCount;
}

/// A new descriptor for node type `index` (0 to NumPlugs() - 1), owned by the caller, who releases its
/// bare storage (it has no destructor). Null for any other index, and when no memory could be had.
VANTREL_EXPORT class Plugin* Plugin(int index) noexcept {
    // As unsigned, every negative index is out of range too.
    if (static_cast<unsigned int>(index) >= plugCount) return nullptr;
    return registry[index]();
}

/// The module's version, 3.0.
VANTREL_EXPORT float Version() noexcept {
    return 3.0f;
}

#ifdef _WIN32
/// The library entry point has nothing to set up or tear down; it succeeds for every notification.
BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}
#endif
