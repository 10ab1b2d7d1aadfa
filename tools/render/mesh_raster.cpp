#include "tools/render/mesh_raster.h"

#include <algorithm>
#include <cmath>

#include "quib/error.h"

namespace vantrel {
namespace {

/// The rows of a band: a row's triangles are looked for among its band's, so shorter bands mean fewer
/// to pass over, and longer ones fewer lists for each triangle.
constexpr int bandRows = 8;
/// The most entries the bands may hold (4 bytes each).
constexpr std::int64_t maxBandEntries = std::int64_t{1} << 26;

/// The cross product of a - o and b - o: twice the signed area of the triangle o a b.
double Cross(const Vec2d& o, const Vec2d& a, const Vec2d& b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

/// The whole number `value` rounds down (up) to, kept within low - 1 .. high + 1 before it becomes an int.
int FloorWithin(double value, int low, int high) {
    return static_cast<int>(std::floor(std::clamp(value, low - 1.0, high + 1.0)));
}
int CeilWithin(double value, int low, int high) {
    return static_cast<int>(std::ceil(std::clamp(value, low - 1.0, high + 1.0)));
}

}  // namespace

MeshRaster::Rows::Rows(int slots, int columns) : rows(static_cast<std::size_t>(slots)) {
    for (Row& row : rows) {
        row.triangle.resize(static_cast<std::size_t>(columns));
        row.covered.resize(static_cast<std::size_t>(columns) + 1);
    }
}

const MeshRaster::Rows::Row& MeshRaster::Rows::Of(const MeshRaster& raster, int number) {
    Row& row = rows[static_cast<std::size_t>(number) % rows.size()];
    if (row.row == number) return row;
    raster.Cover(number, row.triangle.data());
    for (std::size_t i = 0; i < row.triangle.size(); ++i)
        row.covered[i + 1] = row.covered[i] + (row.triangle[i] >= 0);
    row.row = number;
    return row;
}

MeshRaster::MeshRaster(const MeshModel& model, const PixelGrid& grid, int windowWidth, int padding,
                       int firstWindowRow, int endWindowRow)
    : model(model),
      grid(grid),
      windowWidth(windowWidth),
      padding(padding),
      firstColumn(std::max(0, grid.left - padding)),
      endColumn(static_cast<int>(
          std::min<std::int64_t>(grid.width, std::int64_t{grid.left} + windowWidth + padding))),
      firstRow(std::max(0, grid.top + firstWindowRow - padding)),
      endRow(static_cast<int>(
          std::min<std::int64_t>(grid.height, std::int64_t{grid.top} + endWindowRow + padding))) {
    for (int dy = -padding; dy <= padding; ++dy) {
        for (int dx = -padding; dx <= padding; ++dx) {
            if ((dx != 0 || dy != 0) && dx * dx + dy * dy <= padding * padding) nearest.emplace_back(dx, dy);
        }
    }
    // Nearest first; of equals, the one above, then the one to the left.
    std::stable_sort(nearest.begin(), nearest.end(), [](const auto& a, const auto& b) {
        return a.first * a.first + a.second * a.second < b.first * b.first + b.second * b.second;
    });
    const int bands = std::max(0, (endRow - firstRow + bandRows - 1) / bandRows);
    // The bands each triangle reaches: those of the rows whose centre line its texture corners span.
    const auto bandsOf = [&](const std::array<std::uint32_t, 3>& corners) {
        double low = model.vertices[corners[0]].uv.y, high = low;
        for (const std::uint32_t corner : corners) {
            low = std::min(low, model.vertices[corner].uv.y);
            high = std::max(high, model.vertices[corner].uv.y);
        }
        const int first = std::max(firstRow, FloorWithin(low * grid.height - 0.5, firstRow, endRow));
        const int last = std::min(endRow - 1, CeilWithin(high * grid.height - 0.5, firstRow, endRow));
        return std::pair{(first - firstRow) / bandRows, last < first ? -1 : (last - firstRow) / bandRows};
    };
    bandStart.assign(static_cast<std::size_t>(bands) + 1, 0);
    std::int64_t entries = 0;
    for (const auto& corners : model.triangles) {
        const auto [first, last] = bandsOf(corners);
        for (int band = first; band <= last; ++band)
            ++bandStart[static_cast<std::size_t>(band) + 1];
        entries += std::max(0, last - first + 1);
        if (entries > maxBandEntries) {
            throw quib::Error(quib::Error::Kind::TooLarge,
                              "the model's triangles reach too many rows of a texture this tall (over " +
                                  std::to_string(maxBandEntries) +
                                  " triangles in bands of 8 rows): render it smaller, or in windows")
                .InSource(model.name);
        }
    }
    for (int band = 0; band < bands; ++band)
        bandStart[static_cast<std::size_t>(band) + 1] += bandStart[static_cast<std::size_t>(band)];
    bandTriangles.resize(static_cast<std::size_t>(entries));
    std::vector<std::int64_t> next(bandStart.begin(), bandStart.end() - 1);
    for (std::size_t t = 0; t < model.triangles.size(); ++t) {
        const auto [first, last] = bandsOf(model.triangles[t]);
        for (int band = first; band <= last; ++band)
            bandTriangles[static_cast<std::size_t>(next[static_cast<std::size_t>(band)]++)] =
                static_cast<std::uint32_t>(t);
    }
}

MeshRaster::~MeshRaster() = default;

std::unique_ptr<MeshRaster::Rows> MeshRaster::NewRows() const {
    return std::make_unique<Rows>(2 * padding + 2, std::max(0, endColumn - firstColumn));
}

void MeshRaster::Cover(int row, std::int32_t* out) const {
    std::fill(out, out + (endColumn - firstColumn), -1);
    const double v = (row + 0.5) / grid.height;
    const int band = (row - firstRow) / bandRows;
    const auto begin = bandTriangles.begin() + bandStart[static_cast<std::size_t>(band)];
    const auto end = bandTriangles.begin() + bandStart[static_cast<std::size_t>(band) + 1];
    for (auto each = begin; each != end; ++each) {
        const auto& corners = model.triangles[*each];
        const Vec2d& a = model.vertices[corners[0]].uv;
        const Vec2d& b = model.vertices[corners[1]].uv;
        const Vec2d& c = model.vertices[corners[2]].uv;
        if (v < std::min({a.y, b.y, c.y}) || v > std::max({a.y, b.y, c.y})) continue;
        const int first = std::max(
            firstColumn, FloorWithin(std::min({a.x, b.x, c.x}) * grid.width - 0.5, firstColumn, endColumn));
        const int last = std::min(
            endColumn - 1, CeilWithin(std::max({a.x, b.x, c.x}) * grid.width - 0.5, firstColumn, endColumn));
        for (int x = first; x <= last; ++x) {
            std::int32_t& under = out[x - firstColumn];
            if (under >= 0) continue;  // an earlier triangle's
            const Vec2d p{(x + 0.5) / grid.width, v};
            const double ab = Cross(a, b, p), bc = Cross(b, c, p), ca = Cross(c, a, p);
            if ((ab >= 0 && bc >= 0 && ca >= 0) || (ab <= 0 && bc <= 0 && ca <= 0))
                under = static_cast<std::int32_t>(*each);
        }
    }
}

void MeshRaster::SourcesOfRow(int y, Rows& rows, Source* out) const {
    const int row = grid.top + y;
    const Rows::Row& own = rows.Of(*this, row);
    for (int x = 0; x < windowWidth; ++x) {
        const int column = grid.left + x;
        Source& source = out[x];
        source = {own.triangle[static_cast<std::size_t>(column - firstColumn)], column, row};
        if (source.triangle >= 0 || padding == 0) continue;
        // Whether any pixel of the square about this one is covered, before looking for the nearest.
        const int left = std::max(firstColumn, column - padding) - firstColumn;
        const int right =
            static_cast<int>(std::min<std::int64_t>(endColumn, std::int64_t{column} + padding + 1)) -
            firstColumn;
        bool near = false;
        for (int other = std::max(firstRow, row - padding);
             other < std::min(endRow, row + padding + 1) && !near; ++other) {
            const Rows::Row& each = rows.Of(*this, other);
            near =
                each.covered[static_cast<std::size_t>(right)] > each.covered[static_cast<std::size_t>(left)];
        }
        for (auto each = nearest.begin(); near && each != nearest.end(); ++each) {
            const int fromColumn = column + each->first, fromRow = row + each->second;
            if (fromColumn < firstColumn || fromColumn >= endColumn || fromRow < firstRow ||
                fromRow >= endRow)
                continue;
            const std::int32_t triangle = rows.Of(*this, static_cast<int>(fromRow))
                                              .triangle[static_cast<std::size_t>(fromColumn - firstColumn)];
            if (triangle >= 0) {
                source = {triangle, static_cast<std::int32_t>(fromColumn),
                          static_cast<std::int32_t>(fromRow)};
                break;
            }
        }
    }
}

Vec3d MeshRaster::Position(const Source& source, double u, double v) const {
    const auto& corners = model.triangles[static_cast<std::size_t>(source.triangle)];
    const MeshModel::Vertex& a = model.vertices[corners[0]];
    const MeshModel::Vertex& b = model.vertices[corners[1]];
    const MeshModel::Vertex& c = model.vertices[corners[2]];
    const Vec2d p{u, v};
    const double area = Cross(a.uv, b.uv, c.uv);
    // Each corner's weight is the area of the triangle p makes with the opposite edge.
    const double wa = Cross(b.uv, c.uv, p) / area, wb = Cross(c.uv, a.uv, p) / area,
                 wc = Cross(a.uv, b.uv, p) / area;
    return {wa * a.position.x + wb * b.position.x + wc * c.position.x,
            wa * a.position.y + wb * b.position.y + wc * c.position.y,
            wa * a.position.z + wb * b.position.z + wc * c.position.z};
}

}  // namespace vantrel
