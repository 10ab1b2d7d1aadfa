#pragma once
/// @file
/// PNG (8 or 16 bits a channel, clamped to 0..1), written to any byte sink a band of rows at a time.

#include <zlib.h>

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "tools/image/image_file.h"

namespace vantrel {

/// The filter a PNG's rows are stored with: for each row the one that favours its bytes (`Adaptive`,
/// which render writes), or one filter for every row, so that each of PNG's predictors can be checked
/// on its own against a decoder.
enum class PngRowFilter { None, Sub, Up, Average, Paeth, Adaptive };

/// The bands a PNG's rows are encoded in: about `bandBytes` stored bytes a band, the last in bands of
/// about `tailBandBytes` (at least 8 rows each, so that the rows a band's window reaches lie in the band
/// above). Each band costs its restart and a second filtering of the 32 KiB above it, small beside
/// 256 KiB; the last are small so that the render's end, where the last band is deflated on one thread,
/// is short. The bands depend on the image's width, channels and depth alone, so a part of a render
/// cuts the same bands as the whole.
struct PngBands {
    static constexpr std::size_t bandBytes = 256 * 1024;
    static constexpr std::size_t tailBandBytes = 64 * 1024;
    static int BandRows(int width, int channels, int depth) {
        return RowsFor(bandBytes, width, channels, depth / 8, 8);
    }
    static int TailRows(int width, int channels, int depth) {
        return RowsFor(tailBandBytes, width, channels, depth / 8, 8);
    }
};

/// deflate's window: how far back a band's matches may reach into the bands above.
inline constexpr std::size_t pngWindowBytes = std::size_t{1} << MAX_WBITS;

/// The rows above a band whose filtered bytes make up at least the 32 KiB of its window.
inline int PngWindowRows(std::size_t rowBytes) {
    return static_cast<int>((pngWindowBytes + rowBytes) / (rowBytes + 1));
}

/// One band of a PNG's rows between its encoding and its writing: filtered as PNG stores rows, and
/// deflated alone at zlib's default level with the 32 KiB of filtered rows above as its preset
/// dictionary, so that it matches across its first rows as one stream would.
struct PngBand {
    PngBand();
    ~PngBand();
    PngBand(const PngBand&) = delete;
    PngBand& operator=(const PngBand&) = delete;

    /// Filters `count` rows of `rowBytes` from `rows` into `filtered`, each against the row before
    /// (`previous` before the first; null at the top of the image), by `filter`, and sets `checksum`.
    void Filter(const std::uint8_t* rows, const std::uint8_t* previous, int count, std::size_t rowBytes,
                std::size_t pixelBytes, PngRowFilter filter = PngRowFilter::Adaptive);
    /// Filters the `count` rows from `rows` that lie above the band into `above`, its dictionary.
    void FilterAbove(const std::uint8_t* rows, const std::uint8_t* previous, int count, std::size_t rowBytes,
                     std::size_t pixelBytes, PngRowFilter filter = PngRowFilter::Adaptive);
    /// Deflates `filtered` into `deflated`, after `above` (none for the first band), ending with a
    /// sync flush or, for the image's last band, the end of the stream.
    void Deflate(bool last);
    /// The stream, reset for a new band (made at the first).
    z_stream& Stream();

    z_stream stream{};                   ///< kept from band to band: it holds 256 KiB of its own
    bool ready = false;                  ///< `stream` is made
    std::vector<std::uint8_t> above;     ///< the rows above as the stream holds them, its dictionary
    std::vector<std::uint8_t> filtered;  ///< its rows as the stream holds them
    std::vector<std::uint8_t> deflated;  ///< those deflated, continuing the bands above
    unsigned long checksum = 0;          ///< the Adler-32 of `filtered`
};

/// The bytes of a PNG around its bands: the chunks before the image data, the one zlib stream the bands
/// form in IDAT chunks, and the end. A band that deflated alone so well that its restart (flush, first
/// Huffman tables, chunk framing, about 30 bytes) would cost more than 1 % of it is deflated again here,
/// into one stream with the other such bands next to it: flat rows deflate fast. Bands come in order.
class PngStream {
public:
    PngStream(int width, int height, int channels, int depth, PngLevels levels, int bands, ByteSink out);

    /// Whether a band of an image of `bands` bands that deflates alone to `deflatedBytes` goes into
    /// the stream of small bands.
    static bool Small(std::size_t deflatedBytes, int bands);
    /// Writes `band` as it deflated alone: `checksum` is the Adler-32 of its `filteredBytes`.
    void Put(int band, std::span<const std::uint8_t> deflated, unsigned long checksum,
             std::size_t filteredBytes);
    /// Writes a small band from its filtered rows; `above` are the filtered bytes before it (at least
    /// the last 32 KiB, or all there are), the dictionary of a run of small bands that starts here.
    void PutSmall(int band, std::span<const std::uint8_t> filtered, std::span<const std::uint8_t> above);

private:
    /// Writes a chunk: the length of its data, its type, the data (given in pieces), and the CRC-32 of
    /// type and data.
    void PutChunk(const char* type, std::initializer_list<std::span<const std::uint8_t>> data);
    /// The signature and the chunks before the image data, before the first band.
    void Start();
    /// Writes zlib stream bytes in IDAT chunks: the stream's header before the first, and its Adler-32
    /// checksum after the last when `last`.
    void PutImageData(std::span<const std::uint8_t> data, bool last);
    void EndRun(bool last);

    int width;
    int height;
    int channels;
    int depth;
    PngLevels levels;
    int bands;
    ByteSink out;
    uLong checksum;        ///< of every band written
    bool opened = false;   ///< the chunks before the image data are written
    bool started = false;  ///< the zlib stream's header is written
    PngBand run;           ///< its stream: the stream of small bands, while `running`
    bool running = false;
    std::vector<std::uint8_t> runBytes;
};

/// A PNG written to a byte sink as its bands are rendered: each band filtered and deflated on the render
/// thread that completes it (`PngBand`), whichever thread that is, then written in order (`PngStream`).
class PngEncoder : public StoredBands {
public:
    /// `channels` is 1 (grey), 3 (RGB) or 4 (RGBA); `depth` the bits a channel takes (8 or 16);
    /// `levels` how values become levels and what the file says of them; `slots` the bands held at
    /// once (`BandsInFlight`). The bytes go to `out` as bands are handed on.
    PngEncoder(int width, int height, int channels, int depth, PngLevels levels, int slots, ByteSink out,
               PngRowFilter filter = PngRowFilter::Adaptive);

    void Encode(int band) override;
    void Put(int band) override;

private:
    PngRowFilter filter;
    std::vector<PngBand> encoded;
    PngStream stream;
};

}  // namespace vantrel
