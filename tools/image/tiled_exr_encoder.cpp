// Tiled, mip-mapped OpenEXR images, written by OpenEXR's own writer a row of tiles at a time.

#include "tools/image/tiled_exr_encoder.h"

#include <Iex.h>
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfStandardAttributes.h>
#include <ImfTiledOutputFile.h>

#include <malloc.h>

#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <type_traits>

#include "quib/error.h"
#include "tools/image/exr_encoder.h"
#include "tools/render/image_writer.h"

namespace vantrel {
namespace {

/// OpenEXR's stream over the file: every byte goes through `OutputBytes`, which says why it fails and
/// makes the file durable when closed. A failure is kept too, as OpenEXR's writer swallows those of
/// the table of tiles it writes as it goes.
class Stream : public Imf::OStream {
public:
    explicit Stream(OutputBytes& bytes) : Imf::OStream("the OpenEXR image"), bytes(bytes) {}

    void write(const char c[], int n) override {
        try {
            bytes.Put({reinterpret_cast<const std::uint8_t*>(c), static_cast<std::size_t>(n)});
        } catch (...) {
            failure = std::current_exception();
            throw;
        }
        at += static_cast<std::uint64_t>(n);
    }
    std::uint64_t tellp() override { return at; }
    void seekp(std::uint64_t position) override {
        bytes.Seek(position);
        at = position;
    }

    std::exception_ptr failure;

private:
    OutputBytes& bytes;
    std::uint64_t at = 0;
};

Imf::Header TiledHeader(int width, int height, int channels, int tile) {
    Imf::Header header(width, height);  // the windows, a pixel aspect ratio of 1, the screen window
    header.compression() = Imf::ZIP_COMPRESSION;
    header.lineOrder() = Imf::RANDOM_Y;
    for (int c = 0; c < channels; ++c)
        header.channels().insert(ExrChannelName(channels, c), Imf::Channel(Imf::FLOAT));
    header.setTileDescription(Imf::TileDescription(tile, tile, Imf::MIPMAP_LEVELS, Imf::ROUND_DOWN));
    const auto& p = rec709Primaries;
    Imf::addChromaticities(header, Imf::Chromaticities({p.red.x, p.red.y}, {p.green.x, p.green.y},
                                                       {p.blue.x, p.blue.y}, {p.white.x, p.white.y}));
    return header;
}

/// Runs `write`, a call of OpenEXR's, giving its failures as quib::Error (Failure).
template <class Write>
void Guarded(Write&& write) {
    try {
        write();
    } catch (const Iex::BaseExc& error) {
        throw quib::Error(quib::Error::Kind::Failure,
                          std::string("OpenEXR could not write the tiles: ") + error.what());
    }
}

float Sample(const std::uint8_t* row, std::size_t i) {
    float value;
    std::memcpy(&value, row + 4 * i, sizeof value);
    return value;
}

}  // namespace

struct TiledExrEncoder::Writer {
    explicit Writer(OutputBytes& bytes) : stream(bytes) {}

    Stream stream;
    std::optional<Imf::TiledOutputFile> file;
};

TiledExrEncoder::TiledExrEncoder(int width, int height, int channels, int tile, int slots, OutputBytes& file)
    // A band is a row of tiles of the first level, the last too.
    : StoredBands(width, height, channels, tile, tile, slots, ImageFormat::Exr, 32, PngLevels::Linear),
      tile(tile),
      writer(std::make_unique<Writer>(file)) {
    // OpenEXR deflates each tile with a zlib stream of its own, whose state (some 270 KiB) glibc would
    // hand back to the kernel at each free and fault in again at the next tile: at 16 pixels a tile, ten
    // times the render's own time. Kept while the process runs: freed memory up to 64 MiB an arena.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    // Tiles are compressed on the thread that hands a band on, while the others render.
    Guarded([&] { writer->file.emplace(writer->stream, TiledHeader(width, height, channels, tile), 0); });
    for (int level = 1; level < writer->file->numLevels(); ++level) {
        const int levelWidth = writer->file->levelWidth(level);
        levels.push_back(
            {levelWidth, writer->file->levelHeight(level),
             std::vector<std::uint8_t>(static_cast<std::size_t>(tile) * levelWidth * PixelBytes())});
    }
}

TiledExrEncoder::~TiledExrEncoder() = default;

void TiledExrEncoder::Put(int band) {
    WriteTiles(0, band, Row(FirstRow(band)));
    for (int y = FirstRow(band); y < EndRow(band); ++y)
        Reduce(0, y);
}

void TiledExrEncoder::Finish() {
    Guarded([&] { writer->file.reset(); });  // which writes the table of tiles
    if (writer->stream.failure) std::rethrow_exception(writer->stream.failure);
}

const std::uint8_t* TiledExrEncoder::LevelRow(int level, int y) {
    if (level == 0) return Row(y);
    const Level& held = levels[static_cast<std::size_t>(level - 1)];
    return held.rows.data() + static_cast<std::size_t>(y % tile) * held.width * PixelBytes();
}

void TiledExrEncoder::Reduce(int level, int y) {
    if (static_cast<std::size_t>(level) >= levels.size()) return;
    const int width = level == 0 ? Width() : levels[static_cast<std::size_t>(level - 1)].width;
    const int height = level == 0 ? Height() : levels[static_cast<std::size_t>(level - 1)].height;
    Level& below = levels[static_cast<std::size_t>(level)];
    // Row r below is made from rows 2r and 2r + 1 here, once the second comes (an odd last row has no
    // second and is dropped); a level 1 pixel high makes its one row below from its one row.
    const bool single = height == 1;
    const int r = y / 2;
    if (!single && y % 2 == 0) return;
    const std::uint8_t* above[2] = {LevelRow(level, single ? y : y - 1),
                                    single ? nullptr : LevelRow(level, y)};
    const int columns = width == 1 ? 1 : 2;
    const std::size_t channels = static_cast<std::size_t>(Channels());
    std::uint8_t* out = below.rows.data() + static_cast<std::size_t>(r % tile) * below.width * PixelBytes();
    for (std::size_t x = 0; x < static_cast<std::size_t>(below.width); ++x) {
        for (std::size_t c = 0; c < channels; ++c) {
            double sum = 0.0;
            int count = 0;
            for (const std::uint8_t* row : above) {
                for (std::size_t i = 0; row != nullptr && i < static_cast<std::size_t>(columns); ++i, ++count)
                    sum += Sample(row, (2 * x + i) * channels + c);
            }
            const float mean = static_cast<float>(sum / count);
            std::memcpy(out + 4 * (x * channels + c), &mean, sizeof mean);
        }
    }
    Reduce(level + 1, r);
    if (r % tile == tile - 1 || r == below.height - 1) WriteTiles(level + 1, r / tile, below.rows.data());
}

void TiledExrEncoder::WriteTiles(int level, int tileRow, const std::uint8_t* first) {
    Imf::TiledOutputFile& file = *writer->file;
    const int width = file.levelWidth(level);
    const Imath::V2i origin(0, tileRow * tile);
    const int rows = std::min(tile, file.levelHeight(level) - origin.y);
    Imf::FrameBuffer frame;
    for (int c = 0; c < Channels(); ++c) {
        frame.insert(ExrChannelName(Channels(), c),
                     Imf::Slice::Make(Imf::FLOAT, first + 4 * c, origin, width, rows, PixelBytes(),
                                      PixelBytes() * width));
    }
    Guarded([&] {
        file.setFrameBuffer(frame);
        file.writeTiles(0, file.numXTiles(level) - 1, tileRow, tileRow, level);
    });
}

}  // namespace vantrel

// The module's one entry, which `vantrel render` loads for a plan of tiles.
extern "C" void VantrelWriteTiled(const vantrel::ImagePlan& plan, const std::filesystem::path& path,
                                  const vantrel::ImageRows& rows) {
    static_assert(std::is_same_v<decltype(VantrelWriteTiled), vantrel::TiledWriter>);
    vantrel::OutputBytes bytes(path, "the OpenEXR image");
    vantrel::TiledExrEncoder exr(plan.width, plan.height, vantrel::ChannelsFor(plan.type), plan.tile,
                                 vantrel::BandsInFlight(plan.threads), bytes);
    if (rows(exr)) exr.Finish();
    bytes.Close();
}
