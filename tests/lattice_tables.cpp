// Prints every entry of the hexagonal lattice's tables as the bits of its double, one a line, so that
// the tables built for two platforms can be compared exactly (scripts/compare-eval.sh). The tables are
// computed at first use, from the icosahedron's vertices, with divisions, square roots and the ring
// azimuths' cosines and sines, which are written out because the C runtimes' cos and sin differ between
// platforms; a difference here would move lattice triangle edges.
//
// The bits are printed by hand, not by printf, whose Windows runtime formats numbers its own way.

#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>

#include "generators/hex_lattice_geometry.h"

namespace {

void Print(const std::string& name, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    std::string hex(16, '0');
    for (int digit = 0; digit < 16; ++digit) {
        hex[15 - digit] = "0123456789abcdef"[(bits >> (4 * digit)) & 0xf];
    }
    std::printf("%s 0x%s\n", name.c_str(), hex.c_str());
}
void Print(const std::string& name, const Vec2d& v) {
    Print(name + ".x", v.x);
    Print(name + ".y", v.y);
}
void Print(const std::string& name, const Vec3d& v) {
    Print(name + ".x", v.x);
    Print(name + ".y", v.y);
    Print(name + ".z", v.z);
}
template <class Matrix>
void Print(const std::string& name, const Matrix& m) {
    for (std::size_t row = 0; row < m.row.size(); ++row) {
        Print(name + ".row[" + std::to_string(row) + "]", m.row[row]);
    }
}

}  // namespace

int main() {
    const hexlattice::detail::Tables tables = hexlattice::detail::ComputeTables();
    Print("planeBasis", tables.planeBasis);
    Print("planeBasisInverse", tables.planeBasisInverse);
    for (int face = 0; face < hexlattice::faceCount; ++face) {
        Print("faceFrame[" + std::to_string(face) + "]", tables.faceFrame[face]);
        Print("faceDual[" + std::to_string(face) + "]", tables.faceDual[face]);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
