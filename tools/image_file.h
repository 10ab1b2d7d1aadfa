#pragma once
/// @file
/// Images as `render` writes them: PNG (8 or 16 bits a channel, clamped to 0..1) or OpenEXR (32-bit
/// float, unclamped), written to a temporary file beside the target and renamed into place.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

enum class ImageFormat { Png, Exr };

/// The format a file name asks for by its extension (".png" or ".exr", in any case), or nothing.
std::optional<ImageFormat> FormatFor(const std::filesystem::path& path);

/// An image held as the bytes its file will store: rows from the top, channels interleaved.
class Image {
public:
    /// `channels` is 1 (grey), 3 (RGB) or 4 (RGBA); `depth` the bits a PNG channel takes (8 or 16).
    Image(int width, int height, int channels, ImageFormat format, int depth);

    int Width() const { return width; }
    int Height() const { return height; }
    int Channels() const { return channels; }

    /// Stores row `y` (0 at the top) from width * channels reals. For PNG each is clamped to 0..1 and
    /// rounded to the nearest step (not-a-number gives 0); for OpenEXR it becomes the nearest float.
    /// Rows may be stored from several threads at once, each row by one.
    void SetRow(int y, const double* values);

    /// Writes the image file at `path`, replacing what is there. Throws std::runtime_error saying why
    /// it could not.
    void Write(const std::filesystem::path& path) const;

private:
    void WritePng(const std::filesystem::path& path) const;
    void WriteExr(const std::filesystem::path& path) const;

    int width;
    int height;
    int channels;
    ImageFormat format;
    int depth;
    int bytesPerSample;
    std::vector<std::uint8_t> bytes;  ///< PNG: big-endian integers; OpenEXR: floats
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
