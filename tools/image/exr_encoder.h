#pragma once
/// @file
/// OpenEXR images (32-bit float channels, scan lines in blocks of 16 rows compressed with ZIP), written
/// by vantrel itself: each block compressed on the render thread that completes its band, the blocks
/// written in order, and the table of blocks at the end.

#include <cstdint>
#include <span>
#include <vector>

#include "tools/image/image_file.h"
#include "tools/image/output_file.h"

namespace vantrel {

/// The blocks of an OpenEXR image an image of `height` rows has: one for every 16 rows or fewer.
inline int ExrBlocks(int height) {
    return (height + exrBlockRows - 1) / exrBlockRows;
}

/// The name of interleaved channel `c` of `channels` (1, 3 or 4): Y; R, G, B; R, G, B, A.
const char* ExrChannelName(int channels, int c);

/// OpenEXR's ZIP compression of a block of rows, whose data is the channels of each row in turn, each
/// channel's floats together, channels in the order of their names (A, B, G, R; or Y): the bytes are
/// split into the even and the odd ones, each stored as its difference from the one before, and the
/// whole deflated as a zlib stream at OpenEXR's default level, 4. Data that would not shrink is stored
/// as it is, as OpenEXR reads it back. Writes the data of the block of `count` rows at `rows` (stored
/// floats, channels interleaved, `width` pixels a row) as a file holds it into `out`. Its scratch, a
/// block's size, is the calling thread's.
void CompressExrBlock(const std::uint8_t* rows, int count, int width, int channels,
                      std::vector<std::uint8_t>& out);

/// An OpenEXR file around its blocks: the header (channels Y, RGB or RGBA of floats, ZIP compression,
/// the data and display windows of the image, increasing rows, Rec. 709 chromaticities), a table of
/// where each block starts, written once every block is, and the blocks in order.
class ExrFileWriter {
public:
    ExrFileWriter(OutputBytes& file, int width, int height, int channels);

    /// Writes block `block` (rows 16 x `block` on) from its data, as `CompressExrBlock` gives it: each
    /// block in turn, from the first.
    void Put(int block, std::span<const std::uint8_t> data);
    /// Writes the table of blocks, once every block is written.
    void Finish();

private:
    OutputBytes& file;
    std::uint64_t written = 0;
    std::uint64_t tableAt = 0;
    std::vector<std::uint64_t> offsets;  ///< of the blocks written so far
};

/// An OpenEXR image written to a file as its bands are rendered: bands of whole blocks, each block
/// compressed on the render thread that completes the band, whichever thread that is; the blocks
/// written in order by whichever thread hands the band on.
class ExrEncoder : public StoredBands {
public:
    /// About how many stored bytes a band holds, in whole blocks.
    static constexpr std::size_t bandBytes = 256 * 1024;
    /// The rows of a band: whole blocks, about `bandBytes`.
    static int BandRows(int width, int channels);

    /// `channels` is 1 (Y), 3 (RGB) or 4 (RGBA); `slots` the bands held at once (`BandsInFlight`).
    ExrEncoder(int width, int height, int channels, int slots, OutputBytes& file);

    void Encode(int band) override;
    void Put(int band) override;
    /// Completes the file (its table of blocks); the caller then closes it.
    void Finish() { writer.Finish(); }

private:
    /// Each slot's band's blocks, compressed.
    std::vector<std::vector<std::vector<std::uint8_t>>> encoded;
    ExrFileWriter writer;
};

}  // namespace vantrel
