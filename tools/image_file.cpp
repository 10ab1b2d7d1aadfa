#include "tools/image_file.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>

namespace vantrel {
namespace {

std::string ErrnoText() {
    return std::error_code(errno, std::generic_category()).message();
}

/// A real clamped to 0..1 as the nearest of `steps` + 1 levels (not-a-number gives 0).
unsigned int Quantize(double value, double steps) {
    const double clamped = value >= 0.0 ? std::min(value, 1.0) : 0.0;  // NaN fails the first test
    return static_cast<unsigned int>(clamped * steps + 0.5);
}

constexpr std::size_t pngMessageSize = 256;

void OnPngError(png_structp png, png_const_charp text) {
    char* message = static_cast<char*>(png_get_error_ptr(png));
    std::strncpy(message, text, pngMessageSize - 1);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

/// libpng's output, through stdio. Its own writer reports only "Write Error"; this one gives the
/// system's reason ("No space left on device").
void WritePngData(png_structp png, png_bytep data, png_size_t length) {
    if (std::fwrite(data, 1, length, static_cast<std::FILE*>(png_get_io_ptr(png))) != length)
        png_error(png, std::strerror(errno));
}

void FlushPngData(png_structp png) {
    if (std::fflush(static_cast<std::FILE*>(png_get_io_ptr(png))) != 0) png_error(png, std::strerror(errno));
}

/// Writes a PNG of the given rows to `file`; false, with libpng's reason in `message`, when it fails.
/// libpng reports errors by a long jump back into this function, so it holds no object with a
/// destructor.
bool WritePngRows(std::FILE* file, int width, int height, int colorType, int depth, png_bytep* rows,
                  char* message) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, message, OnPngError, OnPngWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, file, WritePngData, FlushPngData);
    // Run-length matching compresses a rendered texture about six times faster than zlib's default
    // strategy, for a file about 5% larger; encoding is the serial part of a render (docs/performance.md).
    png_set_compression_strategy(png, Z_RLE);
    png_set_IHDR(png, info, width, height, depth, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
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

Image::Image(int width, int height, int channels, ImageFormat format, int depth)
    : width(width),
      height(height),
      channels(channels),
      format(format),
      depth(depth),
      bytesPerSample(format == ImageFormat::Exr ? 4 : depth / 8),
      bytes(static_cast<std::size_t>(width) * height * channels * bytesPerSample) {}

void Image::SetRow(int y, const double* values) {
    const std::size_t count = static_cast<std::size_t>(width) * channels;
    std::uint8_t* row = bytes.data() + static_cast<std::size_t>(y) * count * bytesPerSample;
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

void Image::Write(const std::filesystem::path& path) const {
    if (format == ImageFormat::Png) {
        WritePng(path);
    } else {
        WriteExr(path);
    }
    // Make the bytes durable before the file may replace another: a crash after the rename must not
    // leave a target that is empty.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = descriptor >= 0 && ::fsync(descriptor) == 0;
    const std::string reason = ErrnoText();
    if (descriptor >= 0) ::close(descriptor);
    if (!synced) throw std::runtime_error("cannot write the file: " + reason);
}

void Image::WritePng(const std::filesystem::path& path) const {
    const int colorType = channels == 1   ? PNG_COLOR_TYPE_GRAY
                          : channels == 3 ? PNG_COLOR_TYPE_RGB
                                          : PNG_COLOR_TYPE_RGB_ALPHA;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * channels * bytesPerSample;
    std::vector<png_bytep> rows(height);
    for (int y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(bytes.data() + y * rowBytes);

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot open the file: " + ErrnoText());
    char message[pngMessageSize] = "";
    const bool written = WritePngRows(file, width, height, colorType, depth, rows.data(), message);
    const bool closed = std::fclose(file) == 0;  // flushes what libpng left in the buffer
    if (!written) throw std::runtime_error(std::string("cannot write the PNG: ") + message);
    if (!closed) throw std::runtime_error("cannot write the PNG: " + ErrnoText());
}

void Image::WriteExr(const std::filesystem::path& path) const {
    static const char* const names[][4] = {{"Y"}, {}, {"R", "G", "B"}, {"R", "G", "B", "A"}};
    const std::size_t pixelBytes = static_cast<std::size_t>(channels) * bytesPerSample;
    try {
        Imf::Header header(width, height);
        Imf::FrameBuffer frame;
        char* base = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
        for (int c = 0; c < channels; ++c) {
            header.channels().insert(names[channels - 1][c], Imf::Channel(Imf::FLOAT));
            frame.insert(names[channels - 1][c],
                         Imf::Slice(Imf::FLOAT, base + c * bytesPerSample, pixelBytes, pixelBytes * width));
        }
        Imf::OutputFile file(path.c_str(), header);
        file.setFrameBuffer(frame);
        file.writePixels(height);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("cannot write the OpenEXR image: ") + error.what());
    }
}

PendingFile::PendingFile(std::filesystem::path targetPath) : target(std::move(targetPath)) {
    // A name no other run uses: the process id, then a count past leftovers of a crashed run.
    const std::string stem = "." + target.filename().string() + "." + std::to_string(::getpid()) + "-";
    for (int attempt = 0;; ++attempt) {
        path = target.parent_path() / (stem + std::to_string(attempt) + ".tmp");
        const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0) {
            ::close(descriptor);
            return;
        }
        if (errno != EEXIST || attempt == 99) {
            throw std::runtime_error(target.string() +
                                     ": cannot create a file in its folder: " + ErrnoText());
        }
    }
}

PendingFile::~PendingFile() {
    std::error_code ignored;
    if (!committed) std::filesystem::remove(path, ignored);
}

void PendingFile::Commit() {
    std::error_code error;
    std::filesystem::rename(path, target, error);
    if (error)
        throw std::runtime_error(target.string() + ": cannot put the new file in place: " + error.message());
    committed = true;
}

}  // namespace vantrel
