// What every image file holds: formats, their limits, and rows stored as the file stores them.

#include "tools/image/image_file.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

namespace vantrel {
namespace {

/// A real clamped to 0..1 as the nearest of `steps` + 1 levels (not-a-number gives 0).
unsigned int Quantize(double value, double steps) {
    const double clamped = value >= 0.0 ? std::min(value, 1.0) : 0.0;  // NaN fails the first test
    return static_cast<unsigned int>(clamped * steps + 0.5);
}

}  // namespace

std::optional<ImageFormat> FormatFor(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".png") return ImageFormat::Png;
    if (extension == ".exr") return ImageFormat::Exr;
    return std::nullopt;
}

ImageLimits LargestImage(ImageFormat format, int channels) {
    if (format == ImageFormat::Png) return {INT_MAX, INT_MAX, "a PNG's sides are 31-bit numbers"};
    constexpr int largestSide = INT_MAX / 2;  // OpenEXR refuses a corner at INT_MAX / 2 or beyond
    const int blockWidth = INT_MAX / (exrBlockRows * channels * static_cast<int>(sizeof(float)));
    return {std::min(largestSide, blockWidth), largestSide,
            "OpenEXR keeps a side below 2^30 and a block of 16 rows of floats within 2 GiB"};
}

int RowsFor(std::size_t bytes, int width, int channels, int sampleBytes, int least) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * channels * sampleBytes;
    return static_cast<int>(std::clamp<std::size_t>((bytes + rowBytes) / (rowBytes + 1), least, INT_MAX));
}

StoredBands::StoredBands(int width, int height, int channels, int bandRows, int tailRows, int slots,
                         ImageFormat format, int depth, int top, int end)
    : BandSink(width, height, channels, bandRows, tailRows, slots, top, end),
      format(format),
      depth(depth),
      rowBytes(static_cast<std::size_t>(width) * channels * (format == ImageFormat::Exr ? 4 : depth / 8)),
      bytes(new std::uint8_t[static_cast<std::size_t>(std::min(slots, EndBand())) * BandRows() * rowBytes]) {}

void StoredBands::SetRow(int y, const double* values) {
    const std::size_t count = static_cast<std::size_t>(Width()) * Channels();
    std::uint8_t* row = Row(y);
    for (std::size_t i = 0; i < count; ++i) {
        if (format == ImageFormat::Exr) {
            const float sample = static_cast<float>(values[i]);
            std::memcpy(row + 4 * i, &sample, 4);
        } else if (depth == 16) {
            const unsigned int level = Quantize(values[i], 65535.0);  // 2^16 - 1 steps
            row[2 * i] = static_cast<std::uint8_t>(level >> 8);       // PNG stores big-endian
            row[2 * i + 1] = static_cast<std::uint8_t>(level & 0xff);
        } else {
            row[i] = static_cast<std::uint8_t>(Quantize(values[i], 255.0));  // 2^8 - 1 steps
        }
    }
}

}  // namespace vantrel
