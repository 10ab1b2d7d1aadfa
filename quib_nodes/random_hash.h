#pragma once
/// @file
/// The random node's numbers: a 64-bit key from a vector and a seed, and values in [0, 1) drawn from it.
/// Integer arithmetic on the bits of doubles that the processor computes exactly, so every platform
/// draws the same numbers.

#include <cstdint>

#include "host/values.h"

namespace quibnodes {

/// The step the random node rounds each component of its vector to before hashing it: 2^-16. Points a
/// lattice places from different icosahedron faces differ in their last bits (about 1e-16) and land on
/// one step; lattice points further apart than a step in any component (a sphere lattice's neighbours
/// are 1.1 / Subdivision apart) land on different ones.
inline constexpr double randomStep = 1.0 / 65536.0;

/// The key of the vector v, rounded to the nearest multiple of `randomStep` in each component (a half
/// up), with `seed`. Every not-a-number gives one key, and -0 the key of 0; a component beyond about
/// 2^1008 (2.7e303) counts as an infinity of its sign.
std::uint64_t RandomKey(const Vec3d& v, int seed);

/// Draw number `stream` (0, 1, 2, ...) from `key`: a double in [0, 1), on a grid of 2^-53, each value of
/// the grid equally likely.
double RandomDraw(std::uint64_t key, unsigned int stream);

}  // namespace quibnodes
