#pragma once
/// @file
/// Where the pixels of a render's rows take their sub-samples: each pixel at its own places over a
/// plane or the sphere; over a model's texture, as its raster says, so that a padding pixel takes its
/// source pixel's places and a pixel past the padding takes none.

#include <memory>
#include <optional>
#include <vector>

#include "host/fun_context.h"
#include "tools/render/mesh_raster.h"
#include "tools/render/render_core.h"

namespace vantrel {

/// The raster a render of `request` over a mesh domain reads, for the request's rows `firstRow` to
/// `endRow`; nothing for the other domains. Throws quib::Error for a mesh domain whose model is not
/// loaded (a domain read from a render's description).
std::optional<MeshRaster> RasterFor(const RenderRequest& request, int firstRow, int endRow);

/// One render thread's view of where its rows sample.
class PixelPlaces {
public:
    /// Places for `request`'s pixels, read from `raster` when it is set (which must outlive this).
    PixelPlaces(const RenderRequest& request, const MeshRaster* raster);

    /// Makes row `y` of the request's image the current row; returns how many of its pixels take
    /// samples.
    int Row(int y);
    /// The column of the current row's `i`-th pixel that takes samples.
    int Column(int i) const { return raster ? columns[static_cast<std::size_t>(i)] : i; }
    /// The position of the sub-sample (`sx`, `sy`) of the current row's `i`-th pixel that takes samples:
    /// the centres of a grid of `samples` x `samples` over the pixel, from the top left.
    Vec3d Place(int i, int sx, int sy) const;

private:
    const RenderRequest& request;
    const MeshRaster* raster;
    PixelGrid grid;
    int y = 0;
    std::unique_ptr<MeshRaster::Rows> rows;
    std::vector<MeshRaster::Source> sources;  ///< of the pixels that take samples
    std::vector<int> columns;
};

}  // namespace vantrel
