#pragma once
// OpenEXR files decoded with OpenEXR's own reader, for tests that compare pictures by their floats.

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>

#include <filesystem>
#include <vector>

#include "tests/png_image.h"

namespace vantrel::test {

/// The channels Y, R, G, B, A that the file holds, in that order, as stored floats.
inline Decoded ReadExr(const std::filesystem::path& path) {
    Imf::InputFile file(path.c_str());
    const Imath::Box2i window = file.header().dataWindow();
    Decoded image;
    image.width = window.max.x - window.min.x + 1;
    image.height = window.max.y - window.min.y + 1;
    image.depth = 32;
    std::vector<const char*> names;
    for (const char* name : {"Y", "R", "G", "B", "A"}) {
        if (file.header().channels().findChannel(name) != nullptr) names.push_back(name);
    }
    image.channels = static_cast<int>(names.size());
    std::vector<float> pixels(static_cast<std::size_t>(image.width) * image.height * image.channels);
    Imf::FrameBuffer frame;
    const std::size_t pixelBytes = sizeof(float) * image.channels;
    for (int c = 0; c < image.channels; ++c) {
        char* base = reinterpret_cast<char*>(pixels.data() + c) -
                     (window.min.x + static_cast<std::ptrdiff_t>(window.min.y) * image.width) * pixelBytes;
        frame.insert(names[c], Imf::Slice(Imf::FLOAT, base, pixelBytes, pixelBytes * image.width));
    }
    file.setFrameBuffer(frame);
    file.readPixels(window.min.y, window.max.y);
    image.samples.assign(pixels.begin(), pixels.end());
    return image;
}

}  // namespace vantrel::test
