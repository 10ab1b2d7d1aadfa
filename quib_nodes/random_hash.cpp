#include "quib_nodes/random_hash.h"

#include <bit>
#include <cmath>
#include <limits>

namespace quibnodes {
namespace {

/// 2^64 / the golden ratio, the odd increment between a mixer's inputs.
constexpr std::uint64_t goldenGamma = 0x9E3779B97F4A7C15ULL;

/// A bijection of 64-bit words in which each input bit flips each output bit with a probability near
/// one half (the finaliser of SplitMix64).
constexpr std::uint64_t Mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

/// The bits of x rounded to a multiple of the step, counted in steps. The product by a power of two is
/// exact, and floor is the processor's instruction.
std::uint64_t StepBits(double x) {
    double steps = std::floor(x * (1 / randomStep) + 0.5);
    if (std::isnan(steps)) steps = std::numeric_limits<double>::quiet_NaN();  // one pattern for them all
    return std::bit_cast<std::uint64_t>(steps);
}

}  // namespace

std::uint64_t RandomKey(const Vec3d& v, int seed) {
    // The seed's two's complement, so that -1 and 2^64 - 1 are one seed on every platform.
    std::uint64_t key = Mix(static_cast<std::uint64_t>(static_cast<std::int64_t>(seed)) + goldenGamma);
    key = Mix(key ^ StepBits(v.x));
    key = Mix(key ^ StepBits(v.y));
    return Mix(key ^ StepBits(v.z));
}

double RandomDraw(std::uint64_t key, unsigned int stream) {
    const std::uint64_t bits = Mix(key + goldenGamma * (stream + 1ULL));
    return static_cast<double>(bits >> 11) * 0x1.0p-53;
}

}  // namespace quibnodes
