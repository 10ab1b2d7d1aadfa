#pragma once
/// @file
/// Images as `render` writes them: PNG (8 or 16 bits a channel, clamped to 0..1) or OpenEXR (32-bit
/// float, unclamped), written to a temporary file beside the target and renamed into place.

#include <algorithm>
#include <atomic>
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
///
/// Rows are filled in bands of about `bandBytes` stored bytes (at least 8 rows, and at most `maxBands`
/// bands), and a PNG compresses
/// each band as soon as it and the band above are finished, on the thread that finished the later of
/// the two: the encoding then runs in parallel with the render instead of after it on one thread
/// (bench: Render/vantrel).
class Image {
public:
    static constexpr std::size_t bandBytes = 256 * 1024;
    static constexpr int maxBands = 64;

    /// `channels` is 1 (grey), 3 (RGB) or 4 (RGBA); `depth` the bits a PNG channel takes (8 or 16).
    Image(int width, int height, int channels, ImageFormat format, int depth);

    int Width() const { return width; }
    int Height() const { return height; }
    int Channels() const { return channels; }
    /// How many bands of rows the image has.
    int Bands() const { return (height + bandRows - 1) / bandRows; }
    /// How many rows a band has (the last may have fewer).
    int BandRows() const { return bandRows; }
    /// The first row of `band`, and the row after its last.
    int FirstRow(int band) const { return band * bandRows; }
    int EndRow(int band) const { return std::min(height, (band + 1) * bandRows); }

    /// Stores row `y` (0 at the top) from width * channels reals. For PNG each is clamped to 0..1 and
    /// rounded to the nearest step (not-a-number gives 0); for OpenEXR it becomes the nearest float.
    void SetRow(int y, const double* values);
    /// Says that every row of `band` is stored: a PNG compresses this band and the next now if the band
    /// above each is stored too. Bands may be filled and finished from several threads at once, each
    /// band by one.
    void FinishBand(int band);

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
    std::size_t rowBytes;
    int bandRows;
    std::vector<std::uint8_t> bytes;  ///< PNG: big-endian integers; OpenEXR: floats

    /// A finished PNG band: its rows filtered and deflated, and the Adler-32 checksum of the filtered
    /// bytes, which the zlib stream of the whole image combines.
    struct DeflatedBand {
        std::vector<std::uint8_t> data;
        unsigned long checksum = 0;
        std::size_t filteredSize = 0;
    };
    std::vector<DeflatedBand> deflated;
    /// For each PNG band, how many of itself and the band above are still to be stored: the one that
    /// brings it to 0 deflates it.
    std::vector<std::atomic<int>> waiting;
    std::atomic<int> bandsDeflated{0};

    /// Bands `first` to `end` (not included) as one piece of the zlib stream.
    DeflatedBand DeflateBands(int first, int end) const;
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
