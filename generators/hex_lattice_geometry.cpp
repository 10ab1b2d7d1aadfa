#include "generators/hex_lattice_geometry.h"

#include <array>
#include <cmath>
#include <cstdlib>

namespace hexlattice::detail {
namespace {

/// Where an icosahedron vertex sits: on the upper ring (z = r/2), the lower ring (z = -r/2), or the apex.
enum class Ring { Upper, Lower, Apex };

struct Vertex {
    Ring ring;
    int degrees;  ///< azimuth on the ring, a multiple of 36 from -180 to 180; unused for the apex
};

/// The cosines and sines of the ring azimuths 0, 36, ..., 180 degrees: of the doubles k * 36 * pi / 180,
/// each correctly rounded (checked against 300-bit arithmetic), written out rather than computed by the
/// C runtime's cos and sin, which differ between platforms in the last bits (mingw-w64's sin of the
/// double nearest pi is 1.2246063538223773e-16, the correctly rounded one 1.2246467991473532e-16). The
/// tables below are then the same on every platform, and the same as glibc's functions gave.
constexpr std::array<double, 6> ringCosines = {
    1.0, 0x1.9e3779b97f4a8p-1, 0x1.3c6ef372fe950p-2, -0x1.3c6ef372fe94ep-2, -0x1.9e3779b97f4a7p-1, -1.0};
constexpr std::array<double, 6> ringSines = {0.0,
                                             0x1.2cf2304755a5ep-1,
                                             0x1.e6f0e134454ffp-1,
                                             0x1.e6f0e13445500p-1,
                                             0x1.2cf2304755a5fp-1,
                                             0x1.1a62633145c07p-53};

/// V0, V1, V2 of each face record. Records 0 to 4 are the faces with two vertices on the upper ring,
/// records 5 to 7 the apex faces centred at azimuth 72, 0 and 144 degrees.
constexpr std::array<std::array<Vertex, 3>, faceCount> faceRecords = {{
    {{{Ring::Lower, 0}, {Ring::Upper, 36}, {Ring::Upper, -36}}},       // record 0
    {{{Ring::Upper, 108}, {Ring::Lower, 144}, {Ring::Upper, 180}}},    // record 1
    {{{Ring::Upper, 36}, {Ring::Lower, 72}, {Ring::Upper, 108}}},      // record 2
    {{{Ring::Upper, 180}, {Ring::Lower, -144}, {Ring::Upper, -108}}},  // record 3
    {{{Ring::Upper, -108}, {Ring::Lower, -72}, {Ring::Upper, -36}}},   // record 4
    {{{Ring::Upper, 36}, {Ring::Upper, 108}, {Ring::Apex, 0}}},        // record 5
    {{{Ring::Upper, -36}, {Ring::Upper, 36}, {Ring::Apex, 0}}},        // record 6
    {{{Ring::Upper, 108}, {Ring::Upper, 180}, {Ring::Apex, 0}}},       // record 7
}};

Vec3d Cross(const Vec3d& a, const Vec3d& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

/// The 2x2 rule: rows (a, b), (c, d) invert to 1/(ad - bc) times rows (d, -b), (-c, a).
Matrix2 Inverse(const Matrix2& m) {
    const double a = m.row[0].x, b = m.row[0].y, c = m.row[1].x, d = m.row[1].y;
    const double k = 1.0 / (a * d - b * c);
    return {{Vec2d(k * d, k * -b), Vec2d(k * -c, k * a)}};
}

/// The matrix with columns c0, c1, c2.
Matrix3 FromColumns(const Vec3d& c0, const Vec3d& c1, const Vec3d& c2) {
    return {{Vec3d(c0.x, c1.x, c2.x), Vec3d(c0.y, c1.y, c2.y), Vec3d(c0.z, c1.z, c2.z)}};
}
/// The inverse of the matrix with columns c0, c1, c2: its rows are the cross products of the other two
/// columns over the determinant c0.(c1 x c2).
Matrix3 InverseOfColumns(const Vec3d& c0, const Vec3d& c1, const Vec3d& c2) {
    const Vec3d row0 = Cross(c1, c2);
    const double k = 1.0 / Dot(c0, row0);
    return {{row0 * k, Cross(c2, c0) * k, Cross(c0, c1) * k}};
}

}  // namespace

Tables ComputeTables() {
    Tables tables;
    const double sqrt3Half = std::sqrt(3.0) * 0.5;  // sqrt(3)/2, the height of a unit triangle
    tables.planeBasis = {{Vec2d(1.0, 0.5), Vec2d(0.0, sqrt3Half)}};
    tables.planeBasisInverse = Inverse(tables.planeBasis);

    // The icosahedron of edge 1 with its apex on the z axis. Neighbours on a ring are 72 degrees apart,
    // a chord 2r sin(36 deg) = 1; a ring vertex and its two nearest on the other ring span 2r sin(18 deg)
    // across, so the rings lie r apart in height; the apex is 1 from each upper-ring vertex.
    const double ringRadius = 0.5 / ringSines[1];                                   // r
    const double ringHeight = ringRadius / 2;                                       // r/2
    const double apexHeight = ringHeight + std::sqrt(1 - ringRadius * ringRadius);  // r/2 + sqrt(1 - r^2)
    const auto position = [&](const Vertex& v) {
        if (v.ring == Ring::Apex) return Vec3d(0.0, 0.0, apexHeight);
        const int k = std::abs(v.degrees) / 36;
        const double sine = v.degrees < 0 ? -ringSines[k] : ringSines[k];
        const double z = v.ring == Ring::Upper ? ringHeight : -ringHeight;
        return Vec3d(ringRadius * ringCosines[k], ringRadius * sine, z);
    };
    for (int h = 0; h < faceCount; ++h) {
        const Vec3d v0 = position(faceRecords[h][0]);
        const Vec3d e1 = position(faceRecords[h][1]) - v0;
        const Vec3d e2 = position(faceRecords[h][2]) - v0;
        tables.faceFrame[h] = FromColumns(e1, e2, v0);
        tables.faceDual[h] = InverseOfColumns(e1, e2, v0);
    }
    return tables;
}

}  // namespace hexlattice::detail
