#pragma once
// PNG files decoded with libpng as stored, for tests that compare pictures by their pixels.

#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace vantrel::test {

/// A decoded image: samples row by row from the top, channels interleaved. PNG samples are the stored
/// integer levels; OpenEXR samples the stored floats.
struct Decoded {
    int width = 0;
    int height = 0;
    int channels = 0;
    int depth = 0;  ///< PNG bits a channel; 32 for OpenEXR floats
    std::vector<double> samples;

    double At(int x, int y, int channel) const {
        return samples[(static_cast<std::size_t>(y) * width + x) * channels + channel];
    }
};

/// Reads a PNG with libpng as stored (no transformations). libpng reports errors by a long jump into
/// this function, so it holds no object with a destructor.
inline bool ReadPngRows(const char* path, png_uint_32* width, png_uint_32* height, int* channels, int* depth,
                        std::vector<unsigned char>* bytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    *channels = png_get_channels(png, info);
    *depth = png_get_bit_depth(png, info);
    const png_bytepp rows = png_get_rows(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    for (png_uint_32 y = 0; y < *height; ++y)
        bytes->insert(bytes->end(), rows[y], rows[y] + rowBytes);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return true;
}

/// How a PNG says its levels are to be read, as libpng reports the chunks before the image data: the
/// gAMA exponent and the cHRM chromaticities (white, red, green, blue; x then y), each times 100000.
struct PngColour {
    bool read = false;
    bool hasGamma = false;
    png_fixed_point gamma = 0;
    bool hasChromaticities = false;
    std::array<png_fixed_point, 8> chromaticities{};
    bool hasSrgb = false;
    bool hasIccProfile = false;
};

/// Reads the chunks of a PNG up to its image data with libpng. As ReadPngRows, no object with a
/// destructor lives here across libpng's calls.
inline PngColour ReadPngColour(const char* path) {
    PngColour colour;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return colour;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return PngColour{};
    }
    png_init_io(png, file);
    png_read_info(png, info);
    colour.hasGamma = png_get_gAMA_fixed(png, info, &colour.gamma) != 0;
    png_fixed_point* c = colour.chromaticities.data();
    colour.hasChromaticities =
        png_get_cHRM_fixed(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]) != 0;
    colour.hasSrgb = png_get_valid(png, info, PNG_INFO_sRGB) != 0;
    colour.hasIccProfile = png_get_valid(png, info, PNG_INFO_iCCP) != 0;
    colour.read = true;
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return colour;
}

inline Decoded ReadPng(const std::filesystem::path& path) {
    png_uint_32 width = 0, height = 0;
    Decoded image;
    std::vector<unsigned char> bytes;
    if (!ReadPngRows(path.c_str(), &width, &height, &image.channels, &image.depth, &bytes)) {
        ADD_FAILURE() << "libpng cannot read " << path;
        return image;
    }
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    const int sampleBytes = image.depth / 8;
    for (std::size_t i = 0; i + sampleBytes <= bytes.size(); i += sampleBytes) {
        image.samples.push_back(sampleBytes == 2 ? bytes[i] * 256 + bytes[i + 1] : bytes[i]);
    }
    return image;
}

}  // namespace vantrel::test
