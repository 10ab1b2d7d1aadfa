#include "tools/render/pixel_places.h"

#include "quib/error.h"

namespace vantrel {

std::optional<MeshRaster> RasterFor(const RenderRequest& request, int firstRow, int endRow) {
    const SampleDomain& domain = request.domain;
    if (domain.kind != SampleDomain::Kind::Mesh) return std::nullopt;
    if (!domain.mesh || domain.mesh->triangles.empty()) {
        throw quib::Error(quib::Error::Kind::BadInput,
                          "a render over a model needs the model itself, not its name");
    }
    return std::make_optional<MeshRaster>(*domain.mesh, request.Grid(), request.width, domain.padding,
                                          firstRow, endRow);
}

PixelPlaces::PixelPlaces(const RenderRequest& request, const MeshRaster* raster)
    : request(request), raster(raster), grid(request.Grid()) {
    if (!raster) return;
    rows = raster->NewRows();
    sources.resize(static_cast<std::size_t>(request.width));
    columns.resize(static_cast<std::size_t>(request.width));
}

int PixelPlaces::Row(int row) {
    y = row;
    if (!raster) return request.width;
    raster->SourcesOfRow(row, *rows, sources.data());
    int live = 0;
    for (int x = 0; x < request.width; ++x) {
        if (sources[static_cast<std::size_t>(x)].triangle < 0) continue;
        sources[static_cast<std::size_t>(live)] = sources[static_cast<std::size_t>(x)];
        columns[static_cast<std::size_t>(live++)] = x;
    }
    return live;
}

Vec3d PixelPlaces::Place(int i, int sx, int sy) const {
    const double across = (sx + 0.5) / request.samples, down = (sy + 0.5) / request.samples;
    if (!raster) return request.domain.Position(grid.U(i, across), grid.V(y, down));
    // The source pixel's places, in the whole texture: it may lie outside a window.
    const MeshRaster::Source& source = sources[static_cast<std::size_t>(i)];
    const PixelGrid whole{grid.width, grid.height};
    return raster->Position(source, whole.U(source.x, across), whole.V(source.y, down));
}

}  // namespace vantrel
