#pragma once
// PNG files decoded with libpng as stored, for tests that compare pictures by their pixels.

#include <gtest/gtest.h>
#include <png.h>

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
