#include "tools/image_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <span>
#include <stdexcept>
#include <string_view>
#include <system_error>

#if VANTREL_OPENEXR
#include <ImfChannelList.h>
#include <ImfChromaticities.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#endif

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

// PNG's row filters: each byte is stored as its difference from a prediction made of its left neighbour
// a, the byte above it b and the byte above-left c, in the same channel (0 outside the image).
enum PngFilter { filterNone, filterSub, filterUp, filterAverage, filterPaeth, filterCount };

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

/// `count` rows of `rowBytes` bytes as PNG stores them: each row a filter type byte, then the row
/// filtered by the filter whose bytes have the smallest magnitudes (the usual heuristic: small
/// differences deflate best). `above` is the row before the first, or null at the top of the image.
std::vector<std::uint8_t> FilterRows(const std::uint8_t* rows, const std::uint8_t* above, int count,
                                     std::size_t rowBytes, std::size_t pixelBytes) {
    using Filter =
        unsigned long (*)(const std::uint8_t*, const std::uint8_t*, std::size_t, std::size_t, std::uint8_t*);
    static constexpr Filter filters[filterCount] = {FilterRow<filterNone>, FilterRow<filterSub>,
                                                    FilterRow<filterUp>, FilterRow<filterAverage>,
                                                    FilterRow<filterPaeth>};
    std::vector<std::uint8_t> filtered(count * (rowBytes + 1));
    std::vector<std::uint8_t> trial(rowBytes), best(rowBytes);  // the best so far is kept, not redone
    for (int r = 0; r < count; ++r, above = rows, rows += rowBytes) {
        int bestFilter = filterNone;
        unsigned long bestCost = ULONG_MAX;
        for (int f = 0; f < (above ? filterCount : filterUp); ++f) {
            const unsigned long cost = filters[f](rows, above, rowBytes, pixelBytes, trial.data());
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
    return filtered;
}

std::array<std::uint8_t, 4> BigEndian(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

void Put(std::FILE* file, std::span<const std::uint8_t> bytes) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
        throw std::runtime_error(ErrnoText());
}

/// The colours of every image render writes: the values are the nodes' reals as they are, read as light
/// in proportion to the value (linear, no transfer function), on the Rec. 709 primaries, which sRGB
/// shares, with the D65 white point. An OpenEXR file holds this as its chromaticities, a PNG as gAMA and
/// cHRM, so that a viewer shows the two files of one render alike.
/// (Held here rather than as OpenEXR's Chromaticities, so that a build without OpenEXR has them too.)
struct Chromaticity {
    float x, y;
};
constexpr struct {
    Chromaticity red, green, blue, white;
} rec709Primaries = {{0.64f, 0.33f}, {0.30f, 0.60f}, {0.15f, 0.06f}, {0.3127f, 0.3290f}};

/// A PNG chromaticity: x or y times 100000, rounded.
std::array<std::uint8_t, 4> PngFixed(float coordinate) {
    return BigEndian(static_cast<std::uint32_t>(std::lround(coordinate * 100000.0)));
}

/// Writes a PNG chunk: the length of its data, its type, the data (given in pieces), and the CRC-32 of
/// type and data.
void PutChunk(std::FILE* file, const char* type, std::initializer_list<std::span<const std::uint8_t>> data) {
    const std::span<const std::uint8_t> typeBytes(reinterpret_cast<const std::uint8_t*>(type), 4);
    std::size_t length = 0;
    uLong crc = crc32_z(0, typeBytes.data(), typeBytes.size());
    for (const std::span<const std::uint8_t> piece : data) {
        length += piece.size();
        if (!piece.empty()) crc = crc32_z(crc, piece.data(), piece.size());  // a null start restarts it
    }
    Put(file, BigEndian(static_cast<std::uint32_t>(length)));
    Put(file, typeBytes);
    for (const std::span<const std::uint8_t> piece : data)
        Put(file, piece);
    Put(file, BigEndian(static_cast<std::uint32_t>(crc)));
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

/// deflate's window: how far back a band's matches may reach into the bands above.
constexpr std::size_t windowBytes = std::size_t{1} << MAX_WBITS;

Image::Image(int width, int height, int channels, ImageFormat format, int depth)
    : width(width),
      height(height),
      channels(channels),
      format(format),
      depth(depth),
      bytesPerSample(format == ImageFormat::Exr ? 4 : depth / 8),
      rowBytes(static_cast<std::size_t>(width) * channels * bytesPerSample),
      // Large and few bands keep the cost of their restarts (each band's flush and first Huffman
      // tables) small beside the data, while 64 still share the work well among threads; at least 8
      // rows, so that the rows a band's window reaches lie in the band above.
      bandRows(std::max({8, static_cast<int>((bandBytes + rowBytes) / (rowBytes + 1)),
                         (height + maxBands - 1) / maxBands})),
      bytes(rowBytes * height),
      deflated(format == ImageFormat::Png ? Bands() : 0),
      waiting(deflated.size()) {
    for (std::size_t band = 0; band < waiting.size(); ++band)
        waiting[band] = band == 0 ? 1 : 2;
}

void Image::SetRow(int y, const double* values) {
    const std::size_t count = static_cast<std::size_t>(width) * channels;
    std::uint8_t* row = bytes.data() + static_cast<std::size_t>(y) * rowBytes;
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

/// What a band's restart costs beside one stream: its flush, its first Huffman tables and its chunk's
/// framing, about 30 bytes; this is a bound.
constexpr std::size_t restartBytes = 64;

void Image::FinishBand(int band) {
    // The count's change also hands over the rows stored by the other thread (sequentially consistent).
    for (const int next : {band, band + 1}) {
        if (next >= static_cast<int>(waiting.size()) || --waiting[next] != 0) continue;
        deflated[next] = DeflateBands(next, next + 1);
        if (++bandsDeflated < Bands()) continue;
        // All bands are deflated, on whichever thread. An image so flat that the bands' restarts would
        // cost more than 1 % of it is deflated again as one stream: it deflates fast, and the choice
        // depends only on the bytes, not on the threads.
        std::size_t total = 0;
        for (const DeflatedBand& each : deflated)
            total += each.data.size();
        if (Bands() > 1 && total < 100 * restartBytes * (Bands() - 1)) {
            deflated[0] = DeflateBands(0, Bands());
            deflated.resize(1);
        }
    }
}

Image::DeflatedBand Image::DeflateBands(int firstBand, int endBand) const {
    // Each row is filtered against the row above as in one stream over the whole image, and the rows
    // above that deflate's window reaches are filtered again to give the dictionary: the bands then
    // match across their first rows as one stream would, whichever thread deflates which band. Raw
    // deflate at the default level: the stream's header and checksum go around all the bands. A band
    // but the last ends with a sync flush, which pads to a byte boundary without ending the stream.
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    const std::size_t pixelBytes = static_cast<std::size_t>(channels) * bytesPerSample;
    const auto filter = [&](int start, int end) {
        return FilterRows(bytes.data() + start * rowBytes,
                          start > 0 ? bytes.data() + (start - 1) * rowBytes : nullptr, end - start, rowBytes,
                          pixelBytes);
    };
    const int first = FirstRow(firstBand);
    const int windowRows =
        static_cast<int>(std::min<std::size_t>(first, (windowBytes + rowBytes) / (rowBytes + 1)));
    bool fine = true;
    if (windowRows > 0) {
        const std::vector<std::uint8_t> above = filter(first - windowRows, first);
        const std::size_t reach = std::min(above.size(), windowBytes);
        fine = deflateSetDictionary(&stream, above.data() + above.size() - reach, static_cast<uInt>(reach)) ==
               Z_OK;
    }
    DeflatedBand out;
    out.checksum = adler32_z(0, nullptr, 0);
    std::vector<std::uint8_t> output;
    for (int band = firstBand; fine && band < endBand; ++band) {
        const std::vector<std::uint8_t> rows = filter(FirstRow(band), EndRow(band));
        out.checksum = adler32_z(out.checksum, rows.data(), rows.size());
        out.filteredSize += rows.size();
        const int flush = band + 1 < endBand ? Z_NO_FLUSH : endBand == Bands() ? Z_FINISH : Z_SYNC_FLUSH;
        stream.next_in = const_cast<Bytef*>(rows.data());
        stream.avail_in = static_cast<uInt>(rows.size());
        do {  // deflate asks for more room by filling what it has
            output.resize(stream.total_out + deflateBound(&stream, stream.avail_in) + 16);
            stream.next_out = output.data() + stream.total_out;
            stream.avail_out = static_cast<uInt>(output.size() - stream.total_out);
            const int status = deflate(&stream, flush);
            fine = status == (flush == Z_FINISH ? Z_STREAM_END : Z_OK) ||
                   (status == Z_OK && stream.avail_out == 0);
        } while (fine && stream.avail_out == 0);
        fine = fine && stream.avail_in == 0;
    }
    deflateEnd(&stream);
    if (!fine) throw std::runtime_error("zlib could not compress a band of rows");
    // The band is kept until the file is written: keep only its deflated bytes, not the bound's room,
    // which is about the size of the raw rows (a resized vector would keep its capacity).
    out.data.assign(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(stream.total_out));
    return out;
}

void Image::Write(const std::filesystem::path& path) const {
    if (format == ImageFormat::Png) {
        WritePng(path);
    } else {
#if VANTREL_OPENEXR  // else render refuses an OpenEXR file before it makes an image
        WriteExr(path);
#endif
    }
    // Make the bytes durable before the file may replace another: a crash after the rename must not
    // leave a target that is empty. (Windows flushes only a file open for writing.)
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const bool synced = descriptor >= 0 && ::fsync(descriptor) == 0;
    const std::string reason = ErrnoText();
    if (descriptor >= 0) ::close(descriptor);
    if (!synced) throw std::runtime_error("cannot write the file: " + reason);
}

void Image::WritePng(const std::filesystem::path& path) const {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot open the file: " + ErrnoText());
    std::string failure;
    try {
        static constexpr std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
        const std::uint8_t colorType = channels == 1 ? 0 : channels == 3 ? 2 : 6;  // grey, RGB, RGBA
        // Width, height, bits a channel, colour type, then deflate, adaptive filtering and no interlace.
        const std::uint8_t settings[] = {static_cast<std::uint8_t>(depth), colorType, 0, 0, 0};
        Put(file, signature);
        PutChunk(file, "IHDR", {BigEndian(width), BigEndian(height), settings});
        // The levels are the values as they are: gamma 1 (stored as 100000 times the exponent), not
        // sRGB's curve, which would call for the sRGB chunk. The chromaticities: white, red, green, blue.
        PutChunk(file, "gAMA", {BigEndian(100000)});
        const auto& c = rec709Primaries;
        PutChunk(file, "cHRM",
                 {PngFixed(c.white.x), PngFixed(c.white.y), PngFixed(c.red.x), PngFixed(c.red.y),
                  PngFixed(c.green.x), PngFixed(c.green.y), PngFixed(c.blue.x), PngFixed(c.blue.y)});

        // The zlib stream: its header (deflate with a 32 KiB window, default level; the second byte
        // makes the pair a multiple of 31), the bands one after the other, each in its own chunk, and
        // the Adler-32 checksum of all the filtered bytes.
        static constexpr std::uint8_t zlibHeader[] = {0x78, 0x9c};
        uLong checksum = adler32_z(0, nullptr, 0);
        for (std::size_t i = 0; i < deflated.size(); ++i) {
            const DeflatedBand& band = deflated[i];
            checksum = adler32_combine(checksum, band.checksum, static_cast<z_off_t>(band.filteredSize));
            const std::array<std::uint8_t, 4> trailer = BigEndian(static_cast<std::uint32_t>(checksum));
            const std::span<const std::uint8_t> none;
            PutChunk(file, "IDAT",
                     {i == 0 ? zlibHeader : none, band.data, i + 1 == deflated.size() ? trailer : none});
        }
        PutChunk(file, "IEND", {});
    } catch (const std::runtime_error& error) {
        failure = error.what();
    }
    const bool closed = std::fclose(file) == 0;  // flushes what is left in the buffer
    if (failure.empty() && !closed) failure = ErrnoText();
    if (!failure.empty()) throw std::runtime_error("cannot write the PNG: " + failure);
}

#if VANTREL_OPENEXR
void Image::WriteExr(const std::filesystem::path& path) const {
    static const char* const names[][4] = {{"Y"}, {}, {"R", "G", "B"}, {"R", "G", "B", "A"}};
    const std::size_t pixelBytes = static_cast<std::size_t>(channels) * bytesPerSample;
    try {
        Imf::Header header(width, height);
        const auto& p = rec709Primaries;
        Imf::addChromaticities(header, Imf::Chromaticities({p.red.x, p.red.y}, {p.green.x, p.green.y},
                                                           {p.blue.x, p.blue.y}, {p.white.x, p.white.y}));
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
#endif

namespace {

/// The name of a pending file of `target`'s made by process `pid`: "." + the target's name + "." + the
/// process id + "-" + a count + ".tmp", so that runs at the same time never share one.
std::string PendingStem(const std::filesystem::path& target, long pid) {
    return "." + target.filename().string() + "." + std::to_string(pid) + "-";
}

/// The process id in the name of a pending file of `target`'s, or 0 when `name` is not one.
long PendingOwner(const std::string& name, const std::filesystem::path& target) {
    const std::string start = "." + target.filename().string() + ".";
    if (name.rfind(start, 0) != 0) return 0;
    long pid = 0;
    long count = 0;
    const char* cursor = name.data() + start.size();
    const char* end = name.data() + name.size();
    auto [afterPid, pidError] = std::from_chars(cursor, end, pid);
    if (pidError != std::errc() || afterPid == end || *afterPid != '-' || pid <= 0) return 0;
    auto [afterCount, countError] = std::from_chars(afterPid + 1, end, count);
    if (countError != std::errc() || std::string_view(afterCount, end - afterCount) != ".tmp") return 0;
    return pid;
}

/// Removes the pending files of `target` that processes no longer running left behind: nothing catches
/// SIGKILL, and a process killed so cannot remove its own. A process that runs, under any user, keeps
/// its file.
void RemoveLeftovers(const std::filesystem::path& target) {
    const std::filesystem::path folder = target.parent_path().empty() ? "." : target.parent_path();
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const long pid = PendingOwner(entry->path().filename().string(), target);
        if (pid != 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::error_code ignored;  // another render may have removed it first
            std::filesystem::remove(entry->path(), ignored);
        }
    }
}

}  // namespace

PendingFile::PendingFile(std::filesystem::path targetPath) : target(std::move(targetPath)) {
    RemoveLeftovers(target);
    // The target's permissions carry over to its replacement: a private file stays private.
    struct stat old;
    const bool replacing = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const std::string stem = PendingStem(target, ::getpid());
    for (int attempt = 0;; ++attempt) {
        path = target.parent_path() / (stem + std::to_string(attempt) + ".tmp");
        const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0) {
            const bool moded = !replacing || ::fchmod(descriptor, old.st_mode & 07777) == 0;
            const std::string reason = ErrnoText();
            ::close(descriptor);
            if (moded) return;
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
            throw std::runtime_error(target.string() +
                                     ": cannot give the new file the mode of the old: " + reason);
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
