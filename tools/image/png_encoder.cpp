// PNG, deflated a band at a time as the render hands bands on.

#include "tools/image/png_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <new>
#include <span>

#include "quib/error.h"

namespace vantrel {
namespace {

// PNG's row filters: each byte is stored as its difference from a prediction made of its left neighbour
// a, the byte above it b and the byte above-left c, in the same channel (0 outside the image).
enum PngFilter { filterNone, filterSub, filterUp, filterAverage, filterPaeth, filterCount };
static_assert(static_cast<int>(PngRowFilter::Paeth) == filterPaeth &&
              static_cast<int>(PngRowFilter::Adaptive) == filterCount);

/// Writes `row` filtered by `filter` to `out` and returns the sum of the filtered bytes' magnitudes, read
/// as signed. Sub and None do not look at `above`.
template <int filter>
unsigned long FilterRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t size,
                        std::size_t pixelBytes, std::uint8_t* out) {
    unsigned long cost = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const int a = i >= pixelBytes ? row[i - pixelBytes] : 0;
        int prediction = 0;
        if constexpr (filter == filterSub) prediction = a;
        if constexpr (filter >= filterUp) {
            const int b = above[i];
            const int c = i >= pixelBytes ? above[i - pixelBytes] : 0;
            if constexpr (filter == filterUp) prediction = b;
            if constexpr (filter == filterAverage) prediction = (a + b) / 2;
            if constexpr (filter == filterPaeth) {
                const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
                prediction = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            }
        }
        out[i] = static_cast<std::uint8_t>(row[i] - prediction);
        cost += static_cast<unsigned long>(std::abs(static_cast<std::int8_t>(out[i])));
    }
    return cost;
}

/// `count` rows of `rowBytes` bytes as PNG stores them, into `filtered`: each row a filter type byte,
/// then the row filtered by the filter whose bytes have the smallest magnitudes (the usual heuristic:
/// small differences deflate best), or by `only`. `above` is the row before the first, or null at the
/// top of the image, where the filters that read the row above read zeros.
void FilterRows(const std::uint8_t* rows, const std::uint8_t* above, int count, std::size_t rowBytes,
                std::size_t pixelBytes, PngRowFilter only, std::vector<std::uint8_t>& filtered) {
    using Filter =
        unsigned long (*)(const std::uint8_t*, const std::uint8_t*, std::size_t, std::size_t, std::uint8_t*);
    static constexpr Filter filters[filterCount] = {FilterRow<filterNone>, FilterRow<filterSub>,
                                                    FilterRow<filterUp>, FilterRow<filterAverage>,
                                                    FilterRow<filterPaeth>};
    filtered.resize(count * (rowBytes + 1));
    std::vector<std::uint8_t> trial(rowBytes), best(rowBytes);  // the best so far is kept, not redone
    // At the top, where the row above is zeros, Up is None and Paeth is Sub: only None and Sub are
    // tried there, and a filter forced there reads a row of zeros.
    const int forced = static_cast<int>(only);
    std::vector<std::uint8_t> zeros(forced >= filterUp && forced < filterCount && above == nullptr ? rowBytes
                                                                                                   : 0);
    for (int r = 0; r < count; ++r, above = rows, rows += rowBytes) {
        const int first = forced < filterCount ? forced : filterNone;
        const int end = forced < filterCount ? forced + 1 : above ? filterCount : filterUp;
        int bestFilter = first;
        unsigned long bestCost = ULONG_MAX;
        for (int f = first; f < end; ++f) {
            const unsigned long cost =
                filters[f](rows, above ? above : zeros.data(), rowBytes, pixelBytes, trial.data());
            if (cost < bestCost) {
                bestFilter = f;
                bestCost = cost;
                trial.swap(best);
            }
        }
        std::uint8_t* out = filtered.data() + r * (rowBytes + 1);
        out[0] = static_cast<std::uint8_t>(bestFilter);
        std::copy(best.begin(), best.end(), out + 1);
    }
}

std::array<std::uint8_t, 4> BigEndian(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

/// A PNG chromaticity: x or y times 100000, rounded.
std::array<std::uint8_t, 4> PngFixed(float coordinate) {
    return BigEndian(static_cast<std::uint32_t>(std::lround(coordinate * 100000.0)));
}

}  // namespace

namespace {

/// What a band's restart costs beside one stream: its flush, its first Huffman tables and its chunk's
/// framing, about 30 bytes; this is a bound. A band that deflates to less than 100 times as much goes
/// into the stream of small bands instead.
constexpr std::size_t restartBytes = 64;
constexpr std::size_t smallBand = 100 * restartBytes;

/// The most a chunk's data holds here: a PNG chunk's length is below 2^31.
constexpr std::size_t largestChunk = std::size_t{1} << 30;

/// Deflates `input` onto the end of `output`, with `flush` after its last byte.
void Deflate(z_stream& stream, std::span<const std::uint8_t> input, int flush,
             std::vector<std::uint8_t>& output) {
    constexpr std::size_t largestStep = std::size_t{1} << 30;  // avail_in is 32-bit
    bool fine = true;
    do {
        const std::size_t step = std::min(input.size(), largestStep);
        const int mode = step == input.size() ? flush : Z_NO_FLUSH;
        stream.next_in = const_cast<Bytef*>(input.data());
        stream.avail_in = static_cast<uInt>(step);
        do {  // deflate asks for more room by filling what it has
            const std::size_t used = output.size();
            const std::size_t room = deflateBound(&stream, stream.avail_in) + 16;
            output.resize(used + room);
            stream.next_out = output.data() + used;
            stream.avail_out = static_cast<uInt>(room);
            const int status = deflate(&stream, mode);
            output.resize(used + room - stream.avail_out);
            // No progress is possible only once everything is out.
            fine =
                status == Z_OK || status == Z_STREAM_END || (status == Z_BUF_ERROR && stream.avail_in == 0);
        } while (fine && stream.avail_out == 0);
        fine = fine && stream.avail_in == 0;
        input = input.subspan(step);
    } while (fine && !input.empty());
    if (!fine) throw quib::Error(quib::Error::Kind::Failure, "zlib could not compress a band of rows");
}

/// Gives `stream` the last 32 KiB of `before` (all of it when shorter) as the bytes before its own.
void SetDictionary(z_stream& stream, std::span<const std::uint8_t> before) {
    const std::size_t reach = std::min(before.size(), pngWindowBytes);
    if (deflateSetDictionary(&stream, before.data() + before.size() - reach, static_cast<uInt>(reach)) !=
        Z_OK)
        throw quib::Error(quib::Error::Kind::Failure, "zlib could not take the rows above a band");
}

}  // namespace

PngBand::PngBand() = default;

PngBand::~PngBand() {
    if (ready) deflateEnd(&stream);
}

z_stream& PngBand::Stream() {
    // Made at the first band, on the thread that deflates it: a stream's tables (about 270 KiB, its
    // hash table cleared) cost the thread that starts a render a millisecond for a render's slots.
    // Raw deflate at the default level: the zlib stream's header and checksum go around all the bands.
    if (!ready) {
        if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
            Z_OK)
            throw std::bad_alloc();
        ready = true;
    } else {
        deflateReset(&stream);
    }
    return stream;
}

void PngBand::Filter(const std::uint8_t* rows, const std::uint8_t* previous, int count, std::size_t rowBytes,
                     std::size_t pixelBytes, PngRowFilter filter) {
    FilterRows(rows, previous, count, rowBytes, pixelBytes, filter, filtered);
    checksum = adler32_z(adler32_z(0, nullptr, 0), filtered.data(), filtered.size());
}

void PngBand::FilterAbove(const std::uint8_t* rows, const std::uint8_t* previous, int count,
                          std::size_t rowBytes, std::size_t pixelBytes, PngRowFilter filter) {
    FilterRows(rows, previous, count, rowBytes, pixelBytes, filter, above);
}

void PngBand::Deflate(bool last) {
    z_stream& fresh = Stream();
    if (!above.empty()) SetDictionary(fresh, above);
    deflated.clear();
    vantrel::Deflate(fresh, filtered, last ? Z_FINISH : Z_SYNC_FLUSH, deflated);
}

PngStream::PngStream(int width, int height, int channels, int depth, PngLevels levels, int bands,
                     ByteSink out)
    : width(width),
      height(height),
      channels(channels),
      depth(depth),
      levels(levels),
      bands(bands),
      out(std::move(out)),
      checksum(adler32_z(0, nullptr, 0)) {}

bool PngStream::Small(std::size_t deflatedBytes, int bands) {
    return bands > 1 && deflatedBytes < smallBand;
}

void PngStream::Start() {
    if (opened) return;
    opened = true;
    static constexpr std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const std::uint8_t colorType = channels == 1 ? 0 : channels == 3 ? 2 : 6;  // grey, RGB, RGBA
    // Width, height, bits a channel, colour type, then deflate, adaptive filtering and no interlace.
    const std::uint8_t settings[] = {static_cast<std::uint8_t>(depth), colorType, 0, 0, 0};
    out(signature);
    PutChunk("IHDR", {BigEndian(width), BigEndian(height), settings});
    if (levels == PngLevels::Data) return;  // numbers, not light: a viewer shows them as they are
    // sRGB's curve, rendering intent 0 (perceptual), with the gamma (stored as 100000 times the exponent
    // its levels are raised to) and chromaticities it stands for, for readers that know no sRGB chunk;
    // or linear levels, gamma 1. The chromaticities: white, red, green, blue.
    static constexpr std::uint8_t perceptual[] = {0};
    if (levels == PngLevels::Srgb) PutChunk("sRGB", {perceptual});
    PutChunk("gAMA", {BigEndian(levels == PngLevels::Srgb ? 45455 : 100000)});
    const auto& c = rec709Primaries;
    PutChunk("cHRM", {PngFixed(c.white.x), PngFixed(c.white.y), PngFixed(c.red.x), PngFixed(c.red.y),
                      PngFixed(c.green.x), PngFixed(c.green.y), PngFixed(c.blue.x), PngFixed(c.blue.y)});
}

void PngStream::Put(int band, std::span<const std::uint8_t> deflated, unsigned long bandChecksum,
                    std::size_t filteredBytes) {
    Start();
    checksum = adler32_combine(checksum, bandChecksum, static_cast<z_off_t>(filteredBytes));
    if (running) EndRun(false);
    PutImageData(deflated, band + 1 == bands);
}

void PngStream::PutSmall(int band, std::span<const std::uint8_t> filtered,
                         std::span<const std::uint8_t> above) {
    Start();
    checksum =
        adler32_combine(checksum, adler32_z(adler32_z(0, nullptr, 0), filtered.data(), filtered.size()),
                        static_cast<z_off_t>(filtered.size()));
    const bool last = band + 1 == bands;
    if (!running) {
        // The run continues the stream after the band above, so it starts with that band's last
        // filtered rows as its dictionary.
        z_stream& fresh = run.Stream();
        if (band > 0) SetDictionary(fresh, above);
        running = true;
    }
    Deflate(run.stream, filtered, last ? Z_FINISH : Z_NO_FLUSH, runBytes);
    if (last) {
        EndRun(true);
    } else if (runBytes.size() >= 4 * PngBands::bandBytes) {
        PutImageData(runBytes, false);
        runBytes.clear();
    }
}

void PngStream::EndRun(bool last) {
    if (!last) Deflate(run.stream, {}, Z_SYNC_FLUSH, runBytes);  // a byte boundary for the band that follows
    PutImageData(runBytes, last);
    runBytes.clear();
    running = false;
}

PngEncoder::PngEncoder(int width, int height, int channels, int depth, PngLevels levels, int slots,
                       ByteSink out, PngRowFilter filter)
    : StoredBands(width, height, channels, PngBands::BandRows(width, channels, depth),
                  PngBands::TailRows(width, channels, depth), slots, ImageFormat::Png, depth, levels),
      filter(filter),
      encoded(static_cast<std::size_t>(std::min(slots, Bands()))),
      stream(width, height, channels, depth, levels, Bands(), std::move(out)) {}

void PngEncoder::Encode(int band) {
    // Each row is filtered against the row above as in one stream over the whole image, and the rows
    // above that deflate's window reaches are filtered again to give the dictionary.
    PngBand& piece = encoded[SlotOf(band)];
    const int first = FirstRow(band);
    piece.Filter(Row(first), first > 0 ? Row(first - 1) : nullptr, EndRow(band) - first, RowBytes(),
                 PixelBytes(), filter);
    piece.above.clear();
    if (first > 0) {
        // The band above is whole and at least twice the window, so the rows the window reaches and
        // the row above them are in it.
        const int start = first - PngWindowRows(RowBytes());
        piece.FilterAbove(Row(start), start > 0 ? Row(start - 1) : nullptr, first - start, RowBytes(),
                          PixelBytes(), filter);
    }
    piece.Deflate(band + 1 == Bands());
}

void PngEncoder::Put(int band) {
    const PngBand& piece = encoded[SlotOf(band)];
    if (PngStream::Small(piece.deflated.size(), Bands())) {
        stream.PutSmall(band, piece.filtered, piece.above);
    } else {
        stream.Put(band, piece.deflated, piece.checksum, piece.filtered.size());
    }
}

void PngStream::PutImageData(std::span<const std::uint8_t> data, bool last) {
    // The zlib stream's header: deflate with a 32 KiB window at the default level (the second byte
    // makes the pair a multiple of 31).
    static constexpr std::uint8_t zlibHeader[] = {0x78, 0x9c};
    const std::span<const std::uint8_t> none;
    std::span<const std::uint8_t> header = started ? none : zlibHeader;
    started = true;
    const std::array<std::uint8_t, 4> trailer = BigEndian(static_cast<std::uint32_t>(checksum));
    do {
        const std::size_t take = std::min(data.size(), largestChunk);
        PutChunk("IDAT", {header, data.first(take), last && take == data.size() ? trailer : none});
        header = none;
        data = data.subspan(take);
    } while (!data.empty());
    if (last) PutChunk("IEND", {});
}

void PngStream::PutChunk(const char* type, std::initializer_list<std::span<const std::uint8_t>> data) {
    const std::span<const std::uint8_t> typeBytes(reinterpret_cast<const std::uint8_t*>(type), 4);
    std::size_t length = 0;
    uLong crc = crc32_z(0, typeBytes.data(), typeBytes.size());
    for (const std::span<const std::uint8_t> piece : data) {
        length += piece.size();
        if (!piece.empty()) crc = crc32_z(crc, piece.data(), piece.size());  // a null start restarts it
    }
    out(BigEndian(static_cast<std::uint32_t>(length)));
    out(typeBytes);
    for (const std::span<const std::uint8_t> piece : data) {
        if (!piece.empty()) out(piece);
    }
    out(BigEndian(static_cast<std::uint32_t>(crc)));
}

}  // namespace vantrel
