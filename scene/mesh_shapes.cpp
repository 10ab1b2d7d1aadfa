#include <cmath>
#include <vector>

#include "quib/error.h"
#include "quib/text.h"
#include "scene/mesh_building.h"

namespace vantrel {
namespace {

/// Around a circle in this many steps: a power of two, for the table below.
constexpr int circleSteps = 64;

/// cos and sin of k 2 pi / `circleSteps` for k from 0 to `circleSteps`, from square roots and products
/// alone: IEEE arithmetic rounds those alike everywhere, where libraries' cos and sin may differ in the
/// last bit, and the shapes are the same on every machine.
std::vector<Vec2d> UnitCircle() {
    Vec2d step{0.0, 1.0};  // a quarter turn
    for (int steps = 4; steps < circleSteps; steps *= 2) {
        const double c = std::sqrt((1.0 + step.x) / 2.0);  // half the angle
        step = {c, step.y / (2.0 * c)};
    }
    std::vector<Vec2d> circle{{1.0, 0.0}};
    for (int k = 1; k <= circleSteps; ++k) {
        const Vec2d& last = circle.back();
        circle.push_back({last.x * step.x - last.y * step.y, last.y * step.x + last.x * step.y});
    }
    return circle;
}

Vec3d Plus(const Vec3d& a, const Vec3d& b, double s, const Vec3d& c, double t) {
    return {a.x + s * b.x + t * c.x, a.y + s * b.y + t * c.y, a.z + s * b.z + t * c.z};
}

/// The unit square from (0, 0) to (1, 1) of the xy-plane, facing +z, its texture's top edge at y = 1:
/// the plane domain's picture of that square.
void Plane(MeshBuilder& shape) {
    const auto a = shape.AddVertex({0, 0, 0}, {0, 1}), b = shape.AddVertex({1, 0, 0}, {1, 1});
    const auto c = shape.AddVertex({1, 1, 0}, {1, 0}), d = shape.AddVertex({0, 1, 0}, {0, 0});
    shape.AddTriangle(a, b, c);
    shape.AddTriangle(a, c, d);
}

/// The cube from -1 to 1: its faces in a grid of 3 x 2 cells of the texture, +x, -x and +y above -y, +z
/// and -z, each inset by a 32nd of its cell so that padding keeps them apart. A face's texture is
/// upright seen from outside: for the sides, +z is up.
void Cube(MeshBuilder& shape) {
    struct Face {
        Vec3d normal, right, up;
    };
    const Face faces[] = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},  {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}},
                          {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}}, {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
                          {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},  {{0, 0, -1}, {1, 0, 0}, {0, -1, 0}}};
    constexpr double inset = 1.0 / 32.0;
    for (int f = 0; f < 6; ++f) {
        const Face& face = faces[f];
        std::uint32_t corner[4];
        // Counter-clockwise from outside: bottom left, bottom right, top right, top left.
        const double across[4] = {0, 1, 1, 0}, down[4] = {1, 1, 0, 0};
        for (int k = 0; k < 4; ++k) {
            const double s = across[k], t = down[k];
            const Vec2d uv{(f % 3 + inset + s * (1 - 2 * inset)) / 3.0,
                           (f / 3 + inset + t * (1 - 2 * inset)) / 2.0};
            corner[k] = shape.AddVertex(Plus(face.normal, face.right, 2 * s - 1, face.up, 1 - 2 * t), uv);
        }
        shape.AddTriangle(corner[0], corner[1], corner[2]);
        shape.AddTriangle(corner[0], corner[2], corner[3]);
    }
}

/// A grid of (`columns` + 1) x (`rows` + 1) vertices over the whole texture, `at(i, j)` the position of
/// column i and row j, its quads two triangles each, counter-clockwise from outside when i runs east
/// and j south as seen from outside.
template <class At>
void Grid(MeshBuilder& shape, int columns, int rows, int firstRow, int endRow, At at) {
    std::vector<std::uint32_t> index;
    for (int j = 0; j <= rows; ++j) {
        for (int i = 0; i <= columns; ++i)
            index.push_back(shape.AddVertex(at(i, j), {double(i) / columns, double(j) / rows}));
    }
    const auto vertex = [&](int i, int j) { return index[std::size_t(j * (columns + 1) + i)]; };
    for (int j = firstRow; j < endRow; ++j) {
        for (int i = 0; i < columns; ++i) {
            shape.AddTriangle(vertex(i, j + 1), vertex(i + 1, j + 1), vertex(i + 1, j));
            shape.AddTriangle(vertex(i, j + 1), vertex(i + 1, j), vertex(i, j));
        }
    }
}

/// The sphere of radius 1, mapped as the sphere domain maps it: longitude from -180 degrees at the left
/// edge, the north pole (+z) at the top. The triangles at the poles meet each column's own pole vertex.
void Sphere(MeshBuilder& shape) {
    const std::vector<Vec2d> circle = UnitCircle();
    constexpr int columns = circleSteps, rows = circleSteps / 2;
    // Longitude (2u - 1) pi: cos and sin of 2 pi i / columns, turned half a circle.
    Grid(shape, columns, rows, 1, rows - 1, [&](int i, int j) {
        const Vec2d ring = {circle[std::size_t(j)].y,
                            circle[std::size_t(j)].x};  // latitude 90 - 180 j / rows
        return Vec3d{-ring.x * circle[std::size_t(i)].x, -ring.x * circle[std::size_t(i)].y, ring.y};
    });
    const auto row = [&](int i, int j) { return std::uint32_t(j * (columns + 1) + i); };
    for (int i = 0; i < columns; ++i) {
        const double u = (i + 0.5) / columns;
        const auto north = shape.AddVertex({0, 0, 1}, {u, 0}), south = shape.AddVertex({0, 0, -1}, {u, 1});
        shape.AddTriangle(north, row(i, 1), row(i + 1, 1));
        shape.AddTriangle(south, row(i + 1, rows - 1), row(i, rows - 1));
    }
}

/// The torus about the z axis of radius 1 through its tube's centre and 0.35 about it: u once round the
/// axis, v once round the tube from its outer equator down and under.
void Torus(MeshBuilder& shape) {
    const std::vector<Vec2d> circle = UnitCircle();
    constexpr double major = 1.0, minor = 0.35;
    constexpr int columns = circleSteps, rows = circleSteps / 2;
    Grid(shape, columns, rows, 0, rows, [&](int i, int j) {
        const Vec2d around = circle[std::size_t(i)], tube = circle[std::size_t(2 * j)];
        const double radius = major + minor * tube.x;
        return Vec3d{radius * around.x, radius * around.y, -minor * tube.y};
    });
}

}  // namespace

MeshModel BuiltInShape(std::string_view name) {
    MeshBuilder shape("the built-in " + std::string(name));
    if (name == "plane") {
        Plane(shape);
    } else if (name == "cube") {
        Cube(shape);
    } else if (name == "sphere") {
        Sphere(shape);
    } else if (name == "torus") {
        Torus(shape);
    } else {
        std::string names;
        for (const std::string_view shapeName : builtInShapes)
            names += (names.empty() ? "" : ", ") + quib::Quote(shapeName);
        throw quib::Error::Expected(quib::Error::Code::BadValue, {}, "a built-in shape: " + names,
                                    quib::Quote(name));
    }
    return shape.Finish();
}

}  // namespace vantrel
