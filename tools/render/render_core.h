#pragma once
/// @file
/// The render itself, apart from any file: a node sampled at the pixel centres of a width x height
/// image over a domain, on several threads, its rows handed on in bands, in order, to an encoder.
///
/// `vantrel render` and the previews of `vantrel serve` both render through `Render`, so a preview is
/// pixel for pixel the file a render writes (PNG bytes made in memory are the file's bytes):
///
/// ```
/// PngEncoder png(width, height, ChannelsFor(type), 8, BandsInFlight(threads), [&](auto bytes) {...});
/// if (!Render({node, domain, width, height, type, threads, 1, &cancelled, {}}, png)) { /* cancelled */ }
/// ```
///
/// Memory is bounded by the bands in flight, not by the image: a thread that is ahead waits for the
/// band it would start to have room, which it has once the bands `BandsInFlight` before it are handed
/// on. The bytes of every band depend only on the pixels, never on the threads.

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>

#include "host/function.h"
#include "scene/output_type.h"
#include "scene/scene.h"

namespace vantrel {

/// Image channels for a value of type `type`: grey for a real or an integer, RGB for a colour or a
/// 3-vector (a 2-vector as red and green, blue 0), RGBA for four components.
int ChannelsFor(OutputType type);

/// The threads a render or an evaluation takes when none are asked for: one for each core the process
/// may run on.
int DefaultThreads();

/// How many bands an encoder holds for a render on `threads` threads: one each being rendered, one each
/// waiting for the band above or for its turn to be handed on, and two for the band being handed on and
/// the one above it that its encoding reads.
constexpr int BandsInFlight(int threads) {
    return 2 * threads + 2;
}

/// Where a render's rows go: an image encoder that holds `slots` bands at once (at least
/// `BandsInFlight` of the render's threads), band `b` in slot `b % slots`.
///
/// Bands hold `bandRows` rows from the top, but the last `bandRows` to `2 bandRows - 1` rows (all of
/// them when there are fewer) are cut into bands of `tailRows`: at the render's end the last band is
/// encoded on one thread while the others have nothing left to do, and a short band makes that short;
/// and while a thread encodes the last long band, the others have a long band's worth of rows left.
///
/// A sink may take only the rows `top` to `end` of the image (a part of a render): its bands are then
/// those of the whole image that meet these rows, cut to them, numbered as in the whole image, so that
/// each band of a part begins and ends where the whole image's does, or at the part's edge.
class BandSink {
public:
    BandSink(int width, int height, int channels, int bandRows, int tailRows, int slots, int top = 0,
             int end = -1);
    virtual ~BandSink() = default;
    BandSink(const BandSink&) = delete;
    BandSink& operator=(const BandSink&) = delete;

    int Width() const { return width; }
    /// The whole image's height, whatever rows the sink takes.
    int Height() const { return height; }
    int Channels() const { return channels; }
    int Slots() const { return slots; }
    /// The rows the sink takes: `Top()` to `End()`, the whole image unless it takes a part.
    int Top() const { return top; }
    int End() const { return end; }
    /// The whole image's bands.
    int Bands() const { return bodyBands + (height - tailStart + tailRows - 1) / tailRows; }
    /// The bands the sink takes: `FirstBand()` to `EndBand()`.
    int FirstBand() const { return BandOf(top); }
    int EndBand() const { return BandOf(end - 1) + 1; }
    /// The most rows a band holds.
    int BandRows() const { return bodyBands > 0 ? bandRows : std::min(tailRows, height); }
    int BandOf(int y) const { return y < tailStart ? y / bandRows : bodyBands + (y - tailStart) / tailRows; }
    /// The first row of `band` in the whole image, and the row after its last (the last band may have
    /// fewer rows).
    int ImageFirstRow(int band) const {
        return band <= bodyBands ? band * bandRows : tailStart + (band - bodyBands) * tailRows;
    }
    int ImageEndRow(int band) const { return band + 1 < Bands() ? ImageFirstRow(band + 1) : height; }
    /// The same, of the rows of `band` the sink takes.
    int FirstRow(int band) const { return std::max(top, ImageFirstRow(band)); }
    int EndRow(int band) const { return std::min(end, ImageEndRow(band)); }
    int SlotOf(int band) const { return band % slots; }

    /// Stores row `y` (0 at the top) from width * channels reals, channels interleaved. Called on the
    /// render threads, for several rows at once, each row once.
    virtual void SetRow(int y, const double* values) = 0;
    /// Every row of `band` and of the band above (when the sink takes it) is stored: the work on the
    /// band that may run on several threads at once (a PNG filters and deflates it here). Called on a
    /// render thread.
    virtual void Encode(int band) = 0;
    /// Hands `band` on, once it is encoded and every band above it has been handed on: called for each
    /// band in order, on a render thread, never on two at once.
    virtual void Put(int band) = 0;

private:
    int width;
    int height;
    int channels;
    int bandRows;
    int tailRows;
    int slots;
    int bodyBands;  ///< the bands of `bandRows` rows
    int tailStart;  ///< the first row of the bands of `tailRows` rows
    int top;
    int end;
};

/// How far a render is.
struct RenderProgress {
    int rowsDone;
    int rows;                   ///< of the rows the sink takes
    std::int64_t samplesTaken;  ///< sub-samples of pixels, of the rows the sink takes
    std::int64_t samples;
};

/// The pixel grid an image samples: a whole image's, or a window of it, whose pixels are then sampled
/// where the whole image's lie, so that each is bit for bit the same pixel of the whole render.
struct PixelGrid {
    int width;  ///< of the whole image
    int height;
    int left = 0;  ///< the window's first column and row in the whole image
    int top = 0;

    /// The image point of the place `across` (0 to 1 from its left) in column `x` of the window: u from
    /// 0 at the whole image's left edge to 1 at its right. The column is counted in whole pixels first,
    /// so a window's u is the whole image's to the bit.
    double U(int x, double across) const { return (left + x + across) / width; }
    /// The same of the place `down` (0 to 1 from its top) in row `y`: v from 0 at the top to 1.
    double V(int y, double down) const { return (top + y + down) / height; }
};

/// What to render: `node` as `type` over `domain` as a width x height image, each pixel the mean of
/// `samples` x `samples` sub-samples at the centres of a grid over it (for 1, the pixel's centre).
struct RenderRequest {
    Function& node;
    const SampleDomain& domain;
    int width;
    int height;
    OutputType type;  ///< any but String
    int threads;      ///< render threads, at least 1
    int samples;      ///< sub-samples along each side of a pixel, at least 1; 1 for int
    /// When set (from any thread), the render stops between rows, hands on no more bands and returns
    /// false. A sample being taken is not interrupted: a node's `Eval` cannot be told to stop.
    const std::atomic<bool>* cancel = nullptr;
    /// Called on the thread that called `Render`, about five times a second from its start, with how
    /// far it is: the rows done (of the rows the sink takes), and the sub-samples taken of all of them,
    /// which move on within a row, however slow its samples.
    std::function<void(const RenderProgress&)> progress;
    /// The whole image that this one is a window of; nothing: this image is whole.
    std::optional<PixelGrid> window = std::nullopt;

    PixelGrid Grid() const { return window.value_or(PixelGrid{width, height}); }
};

/// Where `request` samples: the positions of its pixels' sub-samples, pixel by pixel along each row from
/// the top, each pixel's in the order the render sums them (the rows of its grid from the top), into
/// `out`, which holds width x height x samples x samples positions of three reals, x, y and z.
void SamplePositions(const RenderRequest& request, double* out);

/// Renders `request` into `sink`, whose size and channels are the request's and which holds at least
/// `BandsInFlight(request.threads)` bands: the rows the sink takes, each sampled where it lies in the
/// whole image. Returns true once every band is handed on, false when
/// cancelled. What the render threads or the sink throw is thrown here, once every thread has stopped.
bool Render(const RenderRequest& request, BandSink& sink);

}  // namespace vantrel
