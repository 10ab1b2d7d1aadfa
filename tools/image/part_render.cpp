// Renders in parts: a part of a render into the bytes of its part file.

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

// Header-only, compiled here: the same digest on every platform, with no library to ship beside vantrel.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include "quib/error.h"
#include "tools/image/exr_encoder.h"
#include "tools/image/part_file.h"
#include "tools/image/part_pieces.h"
#include "tools/image/png_encoder.h"

namespace vantrel {
namespace {

/// Rows cut by a part's edges as a piece: `above` (the filtered rows above a PNG band that begins
/// here) then `rows`, packed.
void AppendRows(std::string& out, PieceHead head, std::span<const std::uint8_t> above,
                std::span<const std::uint8_t> rows) {
    std::vector<std::uint8_t> raw(above.begin(), above.end());
    raw.insert(raw.end(), rows.begin(), rows.end());
    head.rawBytes = raw.size();
    head.aboveBytes = static_cast<std::uint32_t>(above.size());
    AppendPiece(out, rowsPiece, head, Bytes(Pack(raw)));
}

/// The 128-bit XXH3 digest of `text`, as 32 hexadecimal digits: the same on every platform (XXH3 reads
/// its input as little-endian words whatever the machine's order).
std::string Digest(const std::string& text) {
    const XXH128_hash_t hash = XXH3_128bits(text.data(), text.size());
    char digits[33];
    std::snprintf(digits, sizeof digits, "%016llx%016llx", static_cast<unsigned long long>(hash.high64),
                  static_cast<unsigned long long>(hash.low64));
    return digits;
}

/// What makes a render's image what it is, as every part of it says: what the request makes of the
/// image, spelt out so that a message can say what differs, and the digest of that with the scene's
/// pixel-making JSON (dumped with its keys sorted, so that the order of a file's keys does not count).
quib::Json Identity(const PartRequest& request) {
    quib::Json identity = {{"program", VANTREL_VERSION}, {"modules", request.moduleVersions}};
    identity.update(CanonicalForm(request.plan));
    quib::Json whole = identity;
    whole["scene"] = PixelScene(request.scene);
    identity["digest"] = Digest(nlohmann::json(whole).dump());  // nlohmann::json sorts its keys
    return identity;
}

/// A part file's bytes on their way out, their CRC-32 kept for the end.
class PartWriter {
public:
    explicit PartWriter(const PartOutput& put) : put(put) {}

    void Put(std::span<const std::uint8_t> bytes) {
        crc = crc32_z(crc, bytes.data(), bytes.size());
        put(bytes);
    }
    /// The end of the pieces and the checksum of every byte before it.
    void End() {
        const std::uint8_t end[1] = {endOfPieces};
        Put(end);
        std::string checksum;
        PutBigEndian(checksum, crc, 4);
        put(Bytes(checksum));
    }

private:
    const PartOutput& put;
    unsigned long crc = crc32_z(0, nullptr, 0);
};

/// The pieces of a part's bands, each band's made on the render thread that completes it and written
/// in order.
class PartSink {
public:
    explicit PartSink(PartWriter& out) : out(out) {}

protected:
    std::vector<std::string> pieces;  ///< by slot
    PartWriter& out;
};

/// A part of a PNG: the rows from `first` to `end`, and above them the rows that the first band's
/// filtering and window reach, which are rendered but not held.
class PngPart : public StoredBands, PartSink {
public:
    PngPart(int width, int height, int channels, int depth, PngLevels levels, int slots, int first, int end,
            PartWriter& out)
        : StoredBands(
              width, height, channels, PngBands::BandRows(width, channels, depth),
              PngBands::TailRows(width, channels, depth), slots, ImageFormat::Png, depth, levels,
              std::max(0, first - PngWindowRows(static_cast<std::size_t>(width) * channels * depth / 8) - 1),
              end),
          PartSink(out),
          first(first),
          bands(static_cast<std::size_t>(std::min(slots, EndBand()))) {
        pieces.resize(bands.size());
    }

    void Encode(int band) override {
        std::string& piece = pieces[SlotOf(band)];
        piece.clear();
        const int from = std::max(FirstRow(band), first);
        const int to = EndRow(band);
        if (from >= to) return;  // rows above the part only
        PngBand& encoded = bands[SlotOf(band)];
        encoded.Filter(Row(from), from > 0 ? Row(from - 1) : nullptr, to - from, RowBytes(), PixelBytes());
        const bool begins = from == ImageFirstRow(band);
        encoded.above.clear();
        if (begins && from > 0) {
            // As the whole image's encoder does: the band above holds the rows the window reaches.
            const int start = from - PngWindowRows(RowBytes());
            encoded.FilterAbove(Row(start), start > 0 ? Row(start - 1) : nullptr, from - start, RowBytes(),
                                PixelBytes());
        }
        const PieceHead head{static_cast<std::uint32_t>(band), static_cast<std::uint32_t>(from),
                             static_cast<std::uint32_t>(to)};
        if (begins && to == ImageEndRow(band)) {
            encoded.Deflate(band + 1 == Bands());
            if (!PngStream::Small(encoded.deflated.size(), Bands())) {
                PieceHead whole = head;
                whole.checksum = static_cast<std::uint32_t>(encoded.checksum);
                whole.rawBytes = encoded.filtered.size();
                AppendPiece(piece, encodedPiece, whole, encoded.deflated);
                return;
            }
        }
        AppendRows(piece, head, encoded.above, encoded.filtered);
    }
    void Put(int band) override { out.Put(Bytes(pieces[SlotOf(band)])); }

private:
    int first;
    std::vector<PngBand> bands;
};

/// A part of an OpenEXR image: its rows in bands of whole blocks (cut by the part's edges).
class ExrPart : public StoredBands, PartSink {
public:
    ExrPart(int width, int height, int channels, int slots, int first, int end, PartWriter& out)
        : StoredBands(width, height, channels, ExrEncoder::BandRows(width, channels),
                      ExrEncoder::BandRows(width, channels), slots, ImageFormat::Exr, 32, PngLevels::Linear,
                      first, end),
          PartSink(out) {
        pieces.resize(static_cast<std::size_t>(std::min(slots, EndBand())));
    }

    void Encode(int band) override {
        std::string& piece = pieces[SlotOf(band)];
        piece.clear();
        std::vector<std::uint8_t> data;
        for (int y = FirstRow(band); y < EndRow(band);) {
            const int block = y / exrBlockRows;
            const int blockEnd = std::min((block + 1) * exrBlockRows, Height());
            const int to = std::min(blockEnd, EndRow(band));
            const PieceHead head{static_cast<std::uint32_t>(block), static_cast<std::uint32_t>(y),
                                 static_cast<std::uint32_t>(to)};
            if (y == block * exrBlockRows && to == blockEnd) {
                CompressExrBlock(Row(y), to - y, Width(), Channels(), data);
                AppendPiece(piece, encodedPiece, head, data);
            } else {
                AppendRows(piece, head, {}, {Row(y), RowBytes() * (to - y)});
            }
            y = to;
        }
    }
    void Put(int band) override { out.Put(Bytes(pieces[SlotOf(band)])); }
};

}  // namespace

std::pair<int, int> PartRows(int height, int part, int parts) {
    const auto row = [&](long long k) { return static_cast<int>(k * height / parts); };
    return {row(part - 1), row(part)};
}

quib::Json PixelScene(const quib::Json& scene) {
    quib::Json pixels = scene;
    if (pixels.is_object()) {
        for (const char* member : {"layout", "description", "output_type", "samples"})
            pixels.erase(member);
    }
    return pixels;
}

bool RenderPart(const PartRequest& request, const PartOutput& put) {
    const RenderRequest& render = request.render;
    const auto [first, end] = PartRows(render.height, request.part, request.parts);
    const quib::Json header = {{"format", partFormat},
                               {"render", Identity(request)},
                               {"part", request.part},
                               {"parts", request.parts},
                               {"rows", {first, end}}};
    const std::string text = header.dump();
    PartWriter out(put);
    std::string head(reinterpret_cast<const char*>(partSignature), sizeof partSignature);
    PutBigEndian(head, text.size(), 4);
    out.Put(Bytes(head + text));
    const int channels = ChannelsFor(render.type);
    const int slots = BandsInFlight(render.threads);
    bool complete = false;
    if (request.plan.format == ImageFormat::Png) {
        PngPart sink(render.width, render.height, channels, request.plan.depth, request.plan.levels, slots,
                     first, end, out);
        complete = Render(render, sink);
    } else {
        ExrPart sink(render.width, render.height, channels, slots, first, end, out);
        complete = Render(render, sink);
    }
    if (complete) out.End();
    return complete;
}

}  // namespace vantrel
