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

/// A PNG written to a byte sink as its bands are rendered.
///
/// Each band's rows are filtered against the rows above, as one stream over the whole image would
/// filter them, and deflated at zlib's default level with the 32 KiB of filtered rows above as its
/// preset dictionary, on the render thread that completes it: the bands then match across their first
/// rows as one stream would, whichever thread deflates which. A band but the last ends with a sync
/// flush, which pads to a byte boundary without ending the stream, so the bands joined in order form the
/// one zlib stream a PNG holds. A band that deflates so well that its restart (flush, first Huffman
/// tables, chunk framing, about 30 bytes) would cost more than 1 % of it is deflated again, when it is
/// handed on, into one stream with the other such bands next to it: flat rows deflate fast.
class PngEncoder : public StoredBands {
public:
    /// About how many stored bytes a band holds, and one of the last (at least 8 rows, so that the rows
    /// a band's window reaches lie in the band above). Each band costs its restart and a second
    /// filtering of the 32 KiB above it, small beside 256 KiB; the last are small so that the render's
    /// end, where the last band is deflated on one thread, is short.
    static constexpr std::size_t bandBytes = 256 * 1024;
    static constexpr std::size_t tailBandBytes = 64 * 1024;

    /// `channels` is 1 (grey), 3 (RGB) or 4 (RGBA); `depth` the bits a channel takes (8 or 16); `slots`
    /// the bands held at once (`BandsInFlight`). The bytes go to `out` as bands are handed on.
    PngEncoder(int width, int height, int channels, int depth, int slots, ByteSink out);
    ~PngEncoder() override;

    void Encode(int band) override;
    void Put(int band) override;

private:
    /// Writes a chunk: the length of its data, its type, the data (given in pieces), and the CRC-32 of
    /// type and data.
    void PutChunk(const char* type, std::initializer_list<std::span<const std::uint8_t>> data);
    /// Writes zlib stream bytes in IDAT chunks: the stream's header before the first, and its Adler-32
    /// checksum after the last when `last`.
    void PutImageData(std::span<const std::uint8_t> data, bool last);
    /// Deflates `band`, already filtered, into the stream of bands too small to restart on their own.
    void DeflateRun(int band);
    void EndRun(bool last);

    int depth;
    ByteSink out;
    /// What a band holds between its encoding and its handing on.
    struct Encoded {
        Encoded();
        ~Encoded();
        Encoded(const Encoded&) = delete;
        Encoded& operator=(const Encoded&) = delete;

        z_stream stream{};                   ///< kept from band to band: it holds 256 KiB of its own
        std::vector<std::uint8_t> above;     ///< the rows above as the stream holds them, its dictionary
        std::vector<std::uint8_t> filtered;  ///< its rows as the stream holds them
        std::vector<std::uint8_t> deflated;  ///< those deflated, continuing the bands above
        unsigned long checksum = 0;          ///< the Adler-32 of `filtered`
    };
    std::vector<Encoded> encoded;
    uLong checksum;        ///< of every band handed on
    bool started = false;  ///< the zlib stream's header is written
    Encoded run;           ///< its stream: the stream of small bands, while `running`
    bool running = false;
    std::vector<std::uint8_t> runBytes;
};

}  // namespace vantrel
