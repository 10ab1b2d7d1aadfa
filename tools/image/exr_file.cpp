// The OpenEXR writer of `vantrel render`, built as a module of its own (see tools/exr_file.h).

#include "tools/image/exr_file.h"

#include <Iex.h>
#include <ImfChannelList.h>
#include <ImfChromaticities.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#include <ImfThreading.h>

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <type_traits>

#include "quib/error.h"
#include "tools/image/image_file.h"
#include "tools/image/output_file.h"

namespace vantrel {
namespace {

/// The OpenEXR name of channel `c` of an image of `channels`.
const char* ChannelName(int channels, int c) {
    static const char* const names[][4] = {{"Y"}, {}, {"R", "G", "B"}, {"R", "G", "B", "A"}};
    return names[channels - 1][c];
}

/// The file and OpenEXR's writer of it. OpenEXR completes the file (its table of blocks) when its
/// writer is destroyed, where it cannot throw: a failure of the file is kept here, and reported by
/// `Close`.
struct ExrStream : Imf::OStream {
    explicit ExrStream(const std::filesystem::path& path)
        : Imf::OStream(path.c_str()), file(path, "the OpenEXR image") {}

    void write(const char c[], int n) override {
        Kept([&] { file.Put({reinterpret_cast<const std::uint8_t*>(c), static_cast<std::size_t>(n)}); });
    }
    std::uint64_t tellp() override {
        std::uint64_t position = 0;
        Kept([&] { position = file.Position(); });
        return position;
    }
    void seekp(std::uint64_t position) override {
        Kept([&] { file.Seek(position); });
    }

    /// Does `work` on the file, keeping its failure and telling OpenEXR of it in OpenEXR's terms.
    template <class Work>
    void Kept(Work&& work) {
        try {
            work();
        } catch (const quib::Error& error) {
            if (failure.empty()) failure = error.what();
            throw Iex::IoExc(error.what());
        }
    }

    /// Does `work` with OpenEXR, saying what fails as a failure to write the image.
    template <class Work>
    void Guarded(Work&& work) {
        try {
            work();
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& error) {
            throw quib::Error(
                quib::Error::Kind::Failure,
                !failure.empty() ? failure : std::string("cannot write the OpenEXR image: ") + error.what());
        }
    }

    OutputBytes file;
    std::string failure;
    std::optional<Imf::OutputFile> image;
};

/// An OpenEXR image written to a file as its bands are rendered, in blocks of 16 rows compressed with
/// ZIP on OpenEXR's own thread pool, whose size is the global thread count OpenEXR is given.
class ExrEncoder : public StoredBands {
public:
    /// About how many stored bytes a band holds, in whole blocks: enough blocks that OpenEXR's threads
    /// compress several at once.
    static constexpr std::size_t bandBytes = 256 * 1024;

    /// `channels` is 1 (Y), 3 (RGB) or 4 (RGBA); `slots` the bands held at once (`BandsInFlight`).
    ExrEncoder(int width, int height, int channels, int slots, const std::filesystem::path& path);

    void Encode(int) override {}
    void Put(int band) override;
    /// Completes the file: its table of blocks, then the bytes made durable. Throws quib::Error
    /// saying why it could not, as do the constructor and `Put`.
    void Close();

private:
    ExrStream stream;
};

/// The rows of an OpenEXR band: whole blocks, about `ExrEncoder::bandBytes`.
int BlockRows(int width, int channels) {
    return RowsFor(ExrEncoder::bandBytes, width, channels, 4, exrBlockRows) / exrBlockRows * exrBlockRows;
}

ExrEncoder::ExrEncoder(int width, int height, int channels, int slots, const std::filesystem::path& path)
    // Whole blocks a band, the last too: each band's blocks are compressed at once, on OpenEXR's threads.
    : StoredBands(width, height, channels, BlockRows(width, channels), BlockRows(width, channels), slots,
                  ImageFormat::Exr, 32),
      stream(path) {
    Imf::Header header(width, height);
    header.compression() = Imf::ZIP_COMPRESSION;
    const auto& p = rec709Primaries;
    Imf::addChromaticities(header, Imf::Chromaticities({p.red.x, p.red.y}, {p.green.x, p.green.y},
                                                       {p.blue.x, p.blue.y}, {p.white.x, p.white.y}));
    for (int c = 0; c < channels; ++c)
        header.channels().insert(ChannelName(channels, c), Imf::Channel(Imf::FLOAT));
    stream.Guarded([&] { stream.image.emplace(stream, header); });
}

void ExrEncoder::Put(int band) {
    const int first = FirstRow(band);
    const int rows = EndRow(band) - first;
    Imf::FrameBuffer frame;
    for (int c = 0; c < Channels(); ++c) {
        frame.insert(ChannelName(Channels(), c),
                     Imf::Slice::Make(Imf::FLOAT, Row(first) + c * sizeof(float), Imath::V2i(0, first),
                                      Width(), rows, PixelBytes(), RowBytes()));
    }
    stream.Guarded([&] {
        stream.image->setFrameBuffer(frame);
        stream.image->writePixels(rows);
    });
}

void ExrEncoder::Close() {
    stream.image.reset();
    if (!stream.failure.empty()) throw quib::Error(quib::Error::Kind::Failure, stream.failure);
    stream.file.Close();
}

}  // namespace
}  // namespace vantrel

extern "C" bool VantrelWriteExr(int width, int height, int channels, int threads,
                                const std::function<bool(vantrel::BandSink&)>& fill,
                                const std::filesystem::path& path) {
    static_assert(std::is_same_v<decltype(VantrelWriteExr), vantrel::ExrWriteFunction>);
    Imf::setGlobalThreadCount(threads);
    vantrel::ExrEncoder exr(width, height, channels, vantrel::BandsInFlight(threads), path);
    if (!fill(exr)) return false;
    exr.Close();
    return true;
}

extern "C" bool VantrelRenderExr(const vantrel::RenderRequest& request, int channels,
                                 const std::filesystem::path& path) {
    static_assert(std::is_same_v<decltype(VantrelRenderExr), vantrel::ExrRenderFunction>);
    return VantrelWriteExr(
        request.width, request.height, channels, request.threads,
        [&](vantrel::BandSink& sink) { return vantrel::Render(request, sink); }, path);
}
