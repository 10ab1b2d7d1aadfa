// What every image file holds: formats, their limits, and rows stored as the file stores them.

#include "tools/image/image_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

namespace vantrel {
namespace {

/// A real clamped to 0..1 (not-a-number gives 0).
double Clamped(double value) {
    return value >= 0.0 ? std::min(value, 1.0) : 0.0;  // NaN fails the test
}

/// The cube root of `v` in 0.0031308..1 by Newton's method, from v^(1/4): that lies above the root, by
/// a factor of 1.62 at most, and the relative error then squares with each step (0.21, 0.034, 1.1e-3,
/// 1.2e-6, 1.5e-12, below an ulp at the sixth).
double CubeRoot(double v) {
    double x = std::sqrt(std::sqrt(v));
    for (int step = 0; step < 6; ++step)
        x = (2.0 * x + v / (x * x)) / 3.0;
    return x;
}

/// What SrgbLevel8 gives, the slow way.
unsigned int EncodedLevel8(double linear) {
    return static_cast<unsigned int>(SrgbEncoded(linear) * 255.0 + 0.5);
}

/// Where each 8-bit sRGB level begins: `first[k]` is the least value of level k. SrgbEncoded gives the
/// same bits everywhere and rises with its value, so these are the same everywhere too, however they
/// are found. `start[i]` is the level of i / 1024: a level spans more than 1 / 1024 except at the
/// foot, where the slope is steepest (12.92), so a value lies at most four levels above its start.
struct SrgbLevels8 {
    std::array<double, 256> first{};
    std::array<std::uint8_t, 1025> start{};

    SrgbLevels8() {
        for (unsigned int k = 1; k < first.size(); ++k) {
            // From a guess by the inverse of the transfer function, widened until it brackets the
            // level's foot, then halved over the doubles between, whose bits order as they do.
            const double encoded = (k - 0.5) / 255.0;
            const double guess =
                encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
            const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
            const std::uint64_t one = bits(1.0);
            std::uint64_t below = bits(guess), above = below;
            for (std::uint64_t step = 1; below > 0 && EncodedLevel8(std::bit_cast<double>(below)) >= k;
                 step *= 2)
                below = below > step ? below - step : 0;
            for (std::uint64_t step = 1; EncodedLevel8(std::bit_cast<double>(above)) < k; step *= 2)
                above = std::min(above + step, one);
            while (above - below > 1) {
                const std::uint64_t middle = below + (above - below) / 2;
                (EncodedLevel8(std::bit_cast<double>(middle)) >= k ? above : below) = middle;
            }
            first[k] = std::bit_cast<double>(above);
        }
        unsigned int level = 0;
        for (std::size_t i = 0; i < start.size(); ++i) {
            while (level < 255 && first[level + 1] <= i / 1024.0)
                ++level;
            start[i] = static_cast<std::uint8_t>(level);
        }
    }
};

constexpr std::pair<PngLevels, const char*> levelsNames[] = {
    {PngLevels::Data, "data"}, {PngLevels::Linear, "linear"}, {PngLevels::Srgb, "srgb"}};

}  // namespace

PngLevels LevelsFor(OutputType type, bool linear) {
    if (linear) return PngLevels::Linear;
    return type == OutputType::Color || type == OutputType::ColorA ? PngLevels::Srgb : PngLevels::Data;
}

const char* LevelsName(PngLevels levels) {
    for (const auto& [each, name] : levelsNames) {
        if (each == levels) return name;
    }
    return "";
}

std::optional<PngLevels> LevelsNamed(std::string_view name) {
    for (const auto& [levels, each] : levelsNames) {
        if (each == name) return levels;
    }
    return std::nullopt;
}

double SrgbEncoded(double linear) {
    if (linear <= 0.0031308) return 12.92 * linear;
    // v^(1/2.4) = v^(5/12) = v^(1/4) v^(1/6): square roots, and a cube root made of them.
    return 1.055 * (std::sqrt(std::sqrt(linear)) * std::sqrt(CubeRoot(linear))) - 0.055;
}

unsigned int SrgbLevel8(double linear) {
    static const SrgbLevels8 levels;
    unsigned int level = levels.start[static_cast<std::size_t>(linear * 1024.0)];
    while (level < 255 && linear >= levels.first[level + 1])
        ++level;
    return level;
}

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
                         ImageFormat format, int depth, PngLevels levels, int top, int end)
    : BandSink(width, height, channels, bandRows, tailRows, slots, top, end),
      format(format),
      depth(depth),
      encodedChannels(format == ImageFormat::Png && levels == PngLevels::Srgb ? std::min(channels, 3) : 0),
      rowBytes(static_cast<std::size_t>(width) * channels * (format == ImageFormat::Exr ? 4 : depth / 8)),
      bytes(new std::uint8_t[static_cast<std::size_t>(std::min(slots, EndBand())) * BandRows() * rowBytes]) {
    if (encodedChannels > 0 && depth == 8) SrgbLevel8(0.0);  // its table made now, not on a render thread
}

void StoredBands::SetRow(int y, const double* values) {
    const int channels = Channels();
    const std::size_t count = static_cast<std::size_t>(Width()) * channels;
    std::uint8_t* row = Row(y);
    if (format == ImageFormat::Exr) {
        for (std::size_t i = 0; i < count; ++i) {
            const float sample = static_cast<float>(values[i]);
            std::memcpy(row + 4 * i, &sample, 4);
        }
        return;
    }
    const double steps = depth == 16 ? 65535.0 : 255.0;  // 2^depth - 1 steps above level 0
    std::size_t i = 0;
    for (int x = 0; x < Width(); ++x) {
        for (int c = 0; c < channels; ++c, ++i) {
            const double value = Clamped(values[i]);
            unsigned int level;
            if (c >= encodedChannels)  // alpha, the last of four, never is encoded
                level = static_cast<unsigned int>(value * steps + 0.5);
            else if (depth == 8)
                level = SrgbLevel8(value);
            else
                level = static_cast<unsigned int>(SrgbEncoded(value) * steps + 0.5);
            if (depth == 16) {
                row[2 * i] = static_cast<std::uint8_t>(level >> 8);  // PNG stores big-endian
                row[2 * i + 1] = static_cast<std::uint8_t>(level & 0xff);
            } else {
                row[i] = static_cast<std::uint8_t>(level);
            }
        }
    }
}

}  // namespace vantrel
