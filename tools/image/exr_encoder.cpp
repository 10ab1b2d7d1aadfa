// OpenEXR images, written block by block as their bands are rendered.

#include "tools/image/exr_encoder.h"

#include <zlib.h>

#include <bit>
#include <cstring>
#include <string>

#include "quib/error.h"

namespace vantrel {
namespace {

static_assert(std::endian::native == std::endian::little, "an OpenEXR file stores little-endian numbers");

/// OpenEXR's default ZIP level, which its own writer uses.
constexpr int zipLevel = 4;

/// The order of the channels in a file, by name: for each channel of the file, the index of the
/// interleaved channel it holds (Y; B, G, R; A, B, G, R).
std::span<const int> FileOrder(int channels) {
    static constexpr int grey[] = {0};
    static constexpr int rgb[] = {2, 1, 0};
    static constexpr int rgba[] = {3, 2, 1, 0};
    return channels == 1 ? std::span<const int>(grey) : channels == 3 ? std::span<const int>(rgb) : rgba;
}

/// Appends the little-endian bytes of `value`.
template <class T>
void Append(std::vector<std::uint8_t>& bytes, T value) {
    std::uint8_t raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    bytes.insert(bytes.end(), raw, raw + sizeof(T));
}

void AppendText(std::vector<std::uint8_t>& bytes, const char* text) {
    bytes.insert(bytes.end(), text, text + std::strlen(text) + 1);  // with its terminating zero
}

/// An attribute of the header: its name, its type's name, the size of its value, the value.
void Attribute(std::vector<std::uint8_t>& bytes, const char* name, const char* type,
               const std::vector<std::uint8_t>& value) {
    AppendText(bytes, name);
    AppendText(bytes, type);
    Append(bytes, static_cast<std::int32_t>(value.size()));
    bytes.insert(bytes.end(), value.begin(), value.end());
}

}  // namespace

const char* ExrChannelName(int channels, int c) {
    static const char* const names[][4] = {{"Y"}, {}, {"R", "G", "B"}, {"R", "G", "B", "A"}};
    return names[channels - 1][c];
}

void CompressExrBlock(const std::uint8_t* rows, int count, int width, int channels,
                      std::vector<std::uint8_t>& out) {
    const std::size_t pixelBytes = 4 * static_cast<std::size_t>(channels);
    const std::size_t rowBytes = pixelBytes * width;
    const std::size_t size = rowBytes * count;
    const std::span<const int> order = FileOrder(channels);
    // The block's bytes in the file's order (row by row, channel by channel), taken straight from the
    // interleaved rows: byte p of that order goes to p / 2 when even, and after the even ones when odd.
    const auto inFileOrder = [&](auto&& take) {
        std::size_t p = 0;
        for (int r = 0; r < count; ++r) {
            const std::uint8_t* row = rows + r * rowBytes;
            for (const int c : order) {
                for (int x = 0; x < width; ++x) {
                    const std::uint8_t* sample = row + x * pixelBytes + 4 * c;
                    for (int b = 0; b < 4; ++b, ++p)
                        take(p, sample[b]);
                }
            }
        }
    };
    thread_local std::vector<std::uint8_t> predicted;  // a block of each render thread, not of each slot
    predicted.resize(size);
    const std::size_t half = (size + 1) / 2;
    inFileOrder(
        [&](std::size_t p, std::uint8_t byte) { predicted[p % 2 == 0 ? p / 2 : half + p / 2] = byte; });
    // Each byte as its difference from the one before (plus 128).
    for (std::size_t i = size; i-- > 1;)
        predicted[i] = static_cast<std::uint8_t>(predicted[i] - predicted[i - 1] + 128);
    // Deflated into the thread's buffer too, and only what it takes copied out: a slot's block then holds
    // (and touches) its compressed bytes, not room for the worst case.
    thread_local std::vector<std::uint8_t> packed;
    uLongf compressed = compressBound(static_cast<uLong>(size));
    packed.resize(compressed);
    if (compress2(packed.data(), &compressed, predicted.data(), static_cast<uLong>(size), zipLevel) != Z_OK)
        throw quib::Error(quib::Error::Kind::Failure, "zlib could not compress a block of rows");
    if (compressed < size) {
        out.assign(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(compressed));
    } else {
        out.resize(size);  // a block that does not shrink is stored as it is
        inFileOrder([&](std::size_t p, std::uint8_t byte) { out[p] = byte; });
    }
}

ExrFileWriter::ExrFileWriter(OutputBytes& file, int width, int height, int channels) : file(file) {
    std::vector<std::uint8_t> header = {0x76, 0x2f, 0x31, 0x01};  // the magic number, 20000630
    Append(header, std::int32_t{2});  // version 2: one part of scan lines, short names
    // The attributes, in the order of their names. The channels: each name, its type (2: 32-bit float),
    // whether it is perceptually linear, three reserved bytes, its sampling along x and y.
    std::vector<std::uint8_t> value;
    for (const int c : FileOrder(channels)) {
        AppendText(value, ExrChannelName(channels, c));
        Append(value, std::int32_t{2});
        value.insert(value.end(), 4, 0);
        Append(value, std::int32_t{1});
        Append(value, std::int32_t{1});
    }
    value.push_back(0);
    Attribute(header, "channels", "chlist", value);
    value.clear();
    const auto& p = rec709Primaries;
    for (const Chromaticity& each : {p.red, p.green, p.blue, p.white}) {
        Append(value, each.x);
        Append(value, each.y);
    }
    Attribute(header, "chromaticities", "chromaticities", value);
    Attribute(header, "compression", "compression", {3});  // ZIP, blocks of 16 rows
    value.clear();
    for (const int corner : {0, 0, width - 1, height - 1})
        Append(value, static_cast<std::int32_t>(corner));
    Attribute(header, "dataWindow", "box2i", value);
    Attribute(header, "displayWindow", "box2i", value);
    Attribute(header, "lineOrder", "lineOrder", {0});  // increasing rows
    value.clear();
    Append(value, 1.0f);
    Attribute(header, "pixelAspectRatio", "float", value);
    value.clear();
    Append(value, 0.0f);
    Append(value, 0.0f);
    Attribute(header, "screenWindowCenter", "v2f", value);
    value.clear();
    Append(value, 1.0f);
    Attribute(header, "screenWindowWidth", "float", value);
    header.push_back(0);  // the end of the header
    file.Put(header);
    tableAt = header.size();
    // The table is written at the end, once the blocks' places are known; until then its place is
    // passed over, so that neither memory nor the disk holds room for blocks that may never come (the
    // parts of a join that fails).
    written = tableAt + static_cast<std::uint64_t>(ExrBlocks(height)) * sizeof(std::uint64_t);
    file.Seek(written);
}

void ExrFileWriter::Put(int block, std::span<const std::uint8_t> data) {
    // A block: its first row, the size of its data, the data. Blocks come in order.
    offsets.push_back(written);
    std::vector<std::uint8_t> head;
    Append(head, static_cast<std::int32_t>(block * exrBlockRows));
    Append(head, static_cast<std::int32_t>(data.size()));
    file.Put(head);
    file.Put(data);
    written += head.size() + data.size();
}

void ExrFileWriter::Finish() {
    std::vector<std::uint8_t> table;
    for (const std::uint64_t offset : offsets)
        Append(table, offset);
    file.Seek(tableAt);
    file.Put(table);
}

int ExrEncoder::BandRows(int width, int channels) {
    return RowsFor(bandBytes, width, channels, 4, exrBlockRows) / exrBlockRows * exrBlockRows;
}

ExrEncoder::ExrEncoder(int width, int height, int channels, int slots, OutputBytes& file)
    // Whole blocks a band, the last too.
    : StoredBands(width, height, channels, BandRows(width, channels), BandRows(width, channels), slots,
                  ImageFormat::Exr, 32, PngLevels::Linear),
      encoded(static_cast<std::size_t>(std::min(slots, Bands()))),
      writer(file, width, height, channels) {}

void ExrEncoder::Encode(int band) {
    std::vector<std::vector<std::uint8_t>>& blocks = encoded[SlotOf(band)];
    const int first = FirstRow(band);
    const int end = EndRow(band);
    blocks.resize(static_cast<std::size_t>(ExrBlocks(end - first)));
    for (int y = first, i = 0; y < end; y += exrBlockRows, ++i) {
        CompressExrBlock(Row(y), std::min(exrBlockRows, end - y), Width(), Channels(),
                         blocks[static_cast<std::size_t>(i)]);
    }
}

void ExrEncoder::Put(int band) {
    const std::vector<std::vector<std::uint8_t>>& blocks = encoded[SlotOf(band)];
    const int firstBlock = FirstRow(band) / exrBlockRows;
    for (std::size_t i = 0; i < blocks.size(); ++i)
        writer.Put(firstBlock + static_cast<int>(i), blocks[i]);
}

}  // namespace vantrel
