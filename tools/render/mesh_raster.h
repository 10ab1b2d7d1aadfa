#pragma once
/// @file
/// A model's UV texture as a raster: which triangle each pixel centre of the texture falls on, and where
/// on the model that puts each of the pixel's samples.
///
/// A pixel whose centre falls on a triangle samples the model there: each sample at its place (u, v)
/// in the texture is the blend of the triangle's corner positions by the barycentric weights of (u, v)
/// in the triangle's texture corners (on the triangle's plane, for samples past its edge). Where
/// triangles overlap in the texture, the first in the model wins. A pixel whose centre falls on none
/// takes the samples of the nearest pixel that does (its centre nearest; of equals, the one above, then
/// the one to the left) within `padding` pixels, so that its value is that pixel's and filtering the
/// texture shows no seam; further out it takes no sample and is transparent.
///
/// The texture's rows are sorted into bands, each listing the triangles that reach it, so that a row
/// looks only at its band's triangles, and the bands are made only for the rows a render takes.

#include <cstdint>
#include <memory>
#include <vector>

#include "scene/mesh_model.h"
#include "tools/render/render_core.h"

namespace vantrel {

class MeshRaster {
public:
    /// Where a pixel samples: on `triangle` (-1: nowhere), at the places of the pixel (`x`, `y`) of the
    /// whole texture.
    struct Source {
        std::int32_t triangle = -1;
        std::int32_t x = 0;
        std::int32_t y = 0;
    };

    /// A render thread's own rows of triangles under pixel centres, kept while its rows need them: each
    /// row in the slot of its number modulo the slots. A thread takes its rows in order and reads at
    /// most 2 padding + 1 rows at once, so with 2 padding + 2 slots none it still needs is put out.
    class Rows {
    public:
        struct Row {
            int row = -1;
            std::vector<std::int32_t> triangle;  ///< from the raster's first column
            std::vector<std::int32_t> covered;   ///< covered[i]: pixels covered before column i of those
        };

        Rows(int slots, int columns);
        /// The row `number` of the whole texture, covered now unless it is kept.
        const Row& Of(const MeshRaster& raster, int number);

    private:
        std::vector<Row> rows;
    };

    /// The raster of `model` for the pixels of `grid` (a whole texture or a window of it) from row
    /// `firstRow` to `endRow` of the window. Throws quib::Error (TooLarge) when the bands would list
    /// more than a few hundred million triangles (a model of long thin triangles in a very tall image).
    MeshRaster(const MeshModel& model, const PixelGrid& grid, int windowWidth, int padding, int firstRow,
               int endRow);
    ~MeshRaster();

    /// The sources of the `windowWidth` pixels of the window's row `y`, into `out`.
    void SourcesOfRow(int y, Rows& rows, Source* out) const;

    /// The point of the model at the place (u, v) of the texture, on `source`'s triangle.
    Vec3d Position(const Source& source, double u, double v) const;

    /// Scratch for SourcesOfRow, one for each thread.
    std::unique_ptr<Rows> NewRows() const;

private:
    /// Pixel centres of the whole texture's row `row`, columns `firstColumn` to `endColumn`: the first
    /// triangle under each, or -1.
    void Cover(int row, std::int32_t* out) const;

    const MeshModel& model;
    PixelGrid grid;
    int windowWidth;
    int padding;
    int firstColumn;  ///< of the whole texture, the columns the window's pixels and their padding read
    int endColumn;
    int firstRow;  ///< likewise of the rows
    int endRow;
    /// Band b holds rows firstRow + b bandRows onwards; its triangles are bandTriangles[bandStart[b] ..
    /// bandStart[b + 1]), in the model's order.
    std::vector<std::int64_t> bandStart;
    std::vector<std::uint32_t> bandTriangles;
    /// The pixels within the padding, nearest first: (dx, dy).
    std::vector<std::pair<int, int>> nearest;
};

}  // namespace vantrel
