/// @file
/// The host's node library as a module: three exports by plain name, and the table of its node types.

#include <iterator>
#include <new>

#include "quib_nodes/colour_nodes.h"
#include "quib_nodes/value_nodes.h"

#ifdef _WIN32
#include <windows.h>
#define QUIB_NODES_EXPORT extern "C" __declspec(dllexport)
#else
#define QUIB_NODES_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using namespace quibnodes;

template <class Node>
Plugin* MakePlug() noexcept {
    return new (std::nothrow) NodePlug<Node>();
}

/// The node types in index order; a type's class id is firstClassId plus its index.
constexpr Plugin* (*registry[])() noexcept = {
    MakePlug<FRemap>,        // 0
    MakePlug<FMath>,         // 1
    MakePlug<FRandom>,       // 2
    MakePlug<FGradientMap>,  // 3
    MakePlug<FMix>,          // 4
    MakePlug<FCombine>,      // 5
    MakePlug<FPick>,         // 6
};
constexpr unsigned int plugCount = std::size(registry);

}  // namespace

/// The number of node types.
QUIB_NODES_EXPORT int NumPlugs() noexcept {
    return plugCount;
}

/// A new descriptor for node type `index`, owned by the caller; null for an index out of range and
/// when no memory could be had.
QUIB_NODES_EXPORT class Plugin* Plugin(int index) noexcept {
    if (static_cast<unsigned int>(index) >= plugCount) return nullptr;
    return registry[index]();
}

/// The node library's version, 1.0.
QUIB_NODES_EXPORT float Version() noexcept {
    return 1.0f;
}

#ifdef _WIN32
BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}
#endif
