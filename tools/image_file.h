#pragma once
/// @file
/// Images as `render` writes them, a band of rows at a time: PNG (8 or 16 bits a channel, clamped to
/// 0..1) to any byte sink, the rows of an OpenEXR image (32-bit float, unclamped; its writer is
/// tools/exr_file.h); and the file that replaces its target only when complete.

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/render_core.h"

namespace vantrel {

enum class ImageFormat { Png, Exr };

/// The format a file name asks for by its extension (".png" or ".exr", in any case), or nothing.
std::optional<ImageFormat> FormatFor(const std::filesystem::path& path);

/// The largest image a format holds, a side at a time, and why.
struct ImageLimits {
    int width;
    int height;
    const char* why;  ///< what sets the limits, to follow "at most W pixels wide" in a message
};

/// PNG: 2^31 - 1 pixels a side (its header's sides are 31-bit). OpenEXR: 2^30 - 1 a side (OpenEXR
/// keeps the corners of the data window below 2^30 so that sums of two stay within an int), and as wide
/// as keeps a block of 16 rows, which the file gives a 32-bit size, within 2^31 - 1 bytes.
ImageLimits LargestImage(ImageFormat format, int channels);

/// The rows of an OpenEXR block with ZIP compression.
inline constexpr int exrBlockRows = 16;

/// Rows of about `bytes` stored bytes a band, at least `least`.
int RowsFor(std::size_t bytes, int width, int channels, int sampleBytes, int least);

/// The colours of every image render writes: the values are the nodes' reals as they are, read as light
/// in proportion to the value (linear, no transfer function), on the Rec. 709 primaries, which sRGB
/// shares, with the D65 white point. An OpenEXR file holds this as its chromaticities, a PNG as gAMA and
/// cHRM, so that a viewer shows the two files of one render alike.
/// (Held here rather than as OpenEXR's Chromaticities, so that a build without OpenEXR has them too.)
struct Chromaticity {
    float x, y;
};
inline constexpr struct {
    Chromaticity red, green, blue, white;
} rec709Primaries = {{0.64f, 0.33f}, {0.30f, 0.60f}, {0.15f, 0.06f}, {0.3127f, 0.3290f}};

/// The image could not be written: what() says why ("cannot write the PNG: No space left on device").
class ImageWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Where encoded bytes go, in order.
using ByteSink = std::function<void(std::span<const std::uint8_t>)>;

/// The rows of the bands in flight, held as the bytes the file stores: channels interleaved, PNG
/// samples as big-endian integers of `depth` bits, OpenEXR samples as floats.
class StoredBands : public BandSink {
public:
    StoredBands(int width, int height, int channels, int bandRows, int tailRows, int slots,
                ImageFormat format, int depth);

    /// For PNG each real is clamped to 0..1 and rounded to the nearest step (not-a-number gives 0); for
    /// OpenEXR it becomes the nearest float.
    void SetRow(int y, const double* values) override;

protected:
    /// Row `y` of a band in flight.
    std::uint8_t* Row(int y) {
        const int band = BandOf(y);
        return bytes.data() +
               (static_cast<std::size_t>(SlotOf(band)) * BandRows() + (y - FirstRow(band))) * rowBytes;
    }
    std::size_t RowBytes() const { return rowBytes; }
    std::size_t PixelBytes() const { return rowBytes / Width(); }

private:
    ImageFormat format;
    int depth;
    std::size_t rowBytes;
    std::vector<std::uint8_t> bytes;
};

/// A PNG written to a byte sink as its bands are rendered.
///
/// Each band's rows are filtered against the rows above, as one stream over the whole image would
/// filter them, and deflated at zlib's default level with the 32 KiB of filtered rows above as its
/// preset dictionary, on the render thread that completes it: the bands then match across their first
/// rows as one stream would, whichever thread deflates which. A band but the last ends with a sync
/// flush, which pads to a byte boundary without ending the stream, so the bands joined in order form the
/// one zlib stream a PNG holds. A band that deflates so well that its restart (flush, first Huffman
/// tables, chunk framing, about 30 bytes) would cost more than 1 % of it is deflated again, when it is
/// handed on, into one stream with the other such bands next to it: flat rows deflate fast.
class PngEncoder : public StoredBands {
public:
    /// About how many stored bytes a band holds, and one of the last (at least 8 rows, so that the rows
    /// a band's window reaches lie in the band above). Each band costs its restart and a second
    /// filtering of the 32 KiB above it, small beside 256 KiB; the last are small so that the render's
    /// end, where the last band is deflated on one thread, is short.
    static constexpr std::size_t bandBytes = 256 * 1024;
    static constexpr std::size_t tailBandBytes = 64 * 1024;

    /// `channels` is 1 (grey), 3 (RGB) or 4 (RGBA); `depth` the bits a channel takes (8 or 16); `slots`
    /// the bands held at once (`BandsInFlight`). The bytes go to `out` as bands are handed on.
    PngEncoder(int width, int height, int channels, int depth, int slots, ByteSink out);
    ~PngEncoder() override;

    void Encode(int band) override;
    void Put(int band) override;

private:
    /// Writes a chunk: the length of its data, its type, the data (given in pieces), and the CRC-32 of
    /// type and data.
    void PutChunk(const char* type, std::initializer_list<std::span<const std::uint8_t>> data);
    /// Writes zlib stream bytes in IDAT chunks: the stream's header before the first, and its Adler-32
    /// checksum after the last when `last`.
    void PutImageData(std::span<const std::uint8_t> data, bool last);
    /// Deflates `band`, already filtered, into the stream of bands too small to restart on their own.
    void DeflateRun(int band);
    void EndRun(bool last);

    int depth;
    ByteSink out;
    /// What a band holds between its encoding and its handing on.
    struct Encoded {
        Encoded();
        ~Encoded();
        Encoded(const Encoded&) = delete;
        Encoded& operator=(const Encoded&) = delete;

        z_stream stream{};                   ///< kept from band to band: it holds 256 KiB of its own
        std::vector<std::uint8_t> above;     ///< the rows above as the stream holds them, its dictionary
        std::vector<std::uint8_t> filtered;  ///< its rows as the stream holds them
        std::vector<std::uint8_t> deflated;  ///< those deflated, continuing the bands above
        unsigned long checksum = 0;          ///< the Adler-32 of `filtered`
    };
    std::vector<Encoded> encoded;
    uLong checksum;        ///< of every band handed on
    bool started = false;  ///< the zlib stream's header is written
    Encoded run;           ///< its stream: the stream of small bands, while `running`
    bool running = false;
    std::vector<std::uint8_t> runBytes;
};

/// A file written from the start, made durable when closed. Each failure throws ImageWriteError saying
/// why, with the name of what it holds ("the PNG").
class OutputBytes {
public:
    /// Opens `path` for writing, replacing what is there.
    OutputBytes(const std::filesystem::path& path, std::string name);
    ~OutputBytes();
    OutputBytes(const OutputBytes&) = delete;
    OutputBytes& operator=(const OutputBytes&) = delete;

    void Put(std::span<const std::uint8_t> bytes);
#if VANTREL_OPENEXR
    std::uint64_t Position();
    void Seek(std::uint64_t position);
#endif
    /// Writes what is buffered and waits for the bytes to reach the disk.
    void Close();

private:
    [[noreturn]] void Fail() const;

    std::FILE* file;
    std::string name;
};

/// A file that replaces its target only when it is complete: created empty, with a name of its own, in
/// the target's folder, and renamed onto the target by `Commit`. Until then the target stays as it was;
/// a pending file that is never committed is removed when it is destroyed.
class PendingFile {
public:
    /// Creates the file. Throws std::runtime_error naming the target when the folder does not take it.
    explicit PendingFile(std::filesystem::path target);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    /// Where to write the content.
    const std::filesystem::path& Path() const { return path; }
    /// Puts the file in the target's place. Throws std::runtime_error when it cannot.
    void Commit();

private:
    std::filesystem::path target;
    std::filesystem::path path;
    bool committed = false;
};

}  // namespace vantrel
