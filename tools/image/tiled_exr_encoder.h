#pragma once
/// @file
/// Tiled OpenEXR images with their mipmap levels, as renderers' texture caches read them, written by
/// OpenEXR's own tiled writer as a render's rows come. Built only with OpenEXR (VANTREL_OPENEXR).
///
/// Each band of the render is a row of tiles of the first level, written once it is handed on. Each
/// level below is made as the rows of the level above come, and holds one row of its tiles: memory
/// follows the width, not the height.
///
/// A level below has OpenEXR's sizes for MIPMAP_LEVELS with ROUND_DOWN: floor(W / 2^l) x floor(H / 2^l),
/// at least 1. Its pixel (x, y) is the mean of the pixels (2x, 2y), (2x + 1, 2y), (2x, 2y + 1) and
/// (2x + 1, 2y + 1) of the level above, of those that lie in it: a side of odd size drops its last
/// column or row, and a side of 1 pixel keeps its one. The mean sums the floats as doubles in that
/// order, divides by their count and rounds to the nearest float.

#include <cstdint>
#include <memory>
#include <vector>

#include "tools/image/image_file.h"
#include "tools/image/output_file.h"

namespace vantrel {

class TiledExrEncoder : public StoredBands {
public:
    /// `channels` is 1 (Y), 3 (RGB) or 4 (RGBA), `tile` the side of a square tile (even), `slots` the
    /// bands held at once (`BandsInFlight`). The header is that of the scan-line file (the channels of
    /// floats, ZIP, the windows, Rec. 709 chromaticities), its tiles stored as they are written (a line
    /// order of RANDOM_Y), so that no tile waits in memory for one of another level.
    TiledExrEncoder(int width, int height, int channels, int tile, int slots, OutputBytes& file);
    ~TiledExrEncoder() override;

    /// Nothing: OpenEXR compresses a tile as it writes it, in `Put`.
    void Encode(int) override {}
    void Put(int band) override;
    /// Completes the file (its table of tiles); the caller then closes it.
    void Finish();

private:
    struct Writer;
    /// The rows of one row of tiles of a level below the first.
    struct Level {
        int width;
        int height;
        std::vector<std::uint8_t> rows;
    };

    /// Row `y` of level `level`, from where it is held.
    const std::uint8_t* LevelRow(int level, int y);
    /// Takes row `y` of level `level` into the levels below, when it completes a row of the next.
    void Reduce(int level, int y);
    /// Writes the row of tiles `tileRow` of `level`, whose first row is at `first`.
    void WriteTiles(int level, int tileRow, const std::uint8_t* first);

    int tile;
    std::unique_ptr<Writer> writer;
    std::vector<Level> levels;  ///< levels 1 on, at [level - 1]
};

}  // namespace vantrel
