#pragma once
/// @file
/// What every image `render` writes holds: its format and the format's limits, and the rows of the
/// bands in flight as the file stores them. The encoders are tools/image/png_encoder.h and
/// tools/image/exr_encoder.h; the file they go to, tools/image/output_file.h.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "scene/output_type.h"
#include "tools/render/render_core.h"

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

/// The colours of the images render writes: the nodes compute colours as linear light (a blend of two
/// colours is their weighted sum), on the Rec. 709 primaries, which sRGB shares, with the D65 white
/// point. An OpenEXR file holds every value as it is, linear, and says so by its chromaticities; a PNG
/// holds a colour through sRGB's transfer function, as display images are held (`PngLevels`).
/// (Held here rather than as OpenEXR's Chromaticities, so that a build without OpenEXR has them too.)
struct Chromaticity {
    float x, y;
};
inline constexpr struct {
    Chromaticity red, green, blue, white;
} rec709Primaries = {{0.64f, 0.33f}, {0.30f, 0.60f}, {0.15f, 0.06f}, {0.3127f, 0.3290f}};

/// What a PNG's levels stand for, as the chunks before its image data say.
enum class PngLevels {
    Data,    ///< the values as they are, for data (heights, normals, positions): no colour chunks
    Linear,  ///< the values as they are, as linear light: gAMA of 1 and cHRM
    Srgb,    ///< red, green and blue through sRGB's transfer function, alpha as it is: sRGB, gAMA, cHRM
};

/// The levels of a PNG of `type`: a colour (color, colora) is sRGB-encoded, and any other type is
/// data; `linear` asks for the values as they are, tagged as linear light, whatever the type.
PngLevels LevelsFor(OutputType type, bool linear);

/// A PNG's levels as part files name them ("data", "linear", "srgb"), and the levels of a name.
const char* LevelsName(PngLevels levels);
std::optional<PngLevels> LevelsNamed(std::string_view name);

/// sRGB's encoding of a linear value of 0..1: 12.92 v up to 0.0031308, 1.055 v^(1/2.4) - 0.055 above.
/// Made of IEEE arithmetic and square roots alone, so that it gives the same bits on every compiler,
/// library and CPU.
double SrgbEncoded(double linear);

/// The 8-bit level of a linear value of 0..1 through sRGB's transfer function: the nearest of 255
/// steps to SrgbEncoded(linear), to the bit, found in a table of where each level begins, as the
/// power costs about ten times as much. Safe from any number of threads; the table is made at the
/// first call (about 0.1 ms).
unsigned int SrgbLevel8(double linear);

/// Where encoded bytes go, in order.
using ByteSink = std::function<void(std::span<const std::uint8_t>)>;

/// The rows of the bands in flight, held as the bytes the file stores: channels interleaved, PNG
/// samples as big-endian integers of `depth` bits, OpenEXR samples as floats.
class StoredBands : public BandSink {
public:
    /// Rows `top` to `end` of the image (all of them by default), as BandSink takes them.
    /// `levels` is what a PNG's levels stand for (OpenEXR ignores it).
    StoredBands(int width, int height, int channels, int bandRows, int tailRows, int slots,
                ImageFormat format, int depth, PngLevels levels, int top = 0, int end = -1);

    /// For PNG each real is clamped to 0..1, encoded by sRGB's transfer function when `levels` says so
    /// (not the alpha), and rounded to the nearest step (not-a-number gives 0); for OpenEXR it becomes
    /// the nearest float.
    void SetRow(int y, const double* values) override;

    std::size_t RowBytes() const { return rowBytes; }
    std::size_t PixelBytes() const { return rowBytes / Width(); }

protected:
    /// Row `y` of a band in flight.
    std::uint8_t* Row(int y) {
        const int band = BandOf(y);
        return bytes.get() +
               (static_cast<std::size_t>(SlotOf(band)) * BandRows() + (y - FirstRow(band))) * rowBytes;
    }

private:
    ImageFormat format;
    int depth;
    int encodedChannels;  ///< the first channels of a pixel that sRGB encodes: red, green and blue, or none
    std::size_t rowBytes;
    /// Left uninitialised (every row is written before it is read), so that its pages are first
    /// touched by the render threads that store rows, not by the thread that starts the render.
    std::unique_ptr<std::uint8_t[]> bytes;
};

}  // namespace vantrel
