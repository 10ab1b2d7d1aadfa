#include "tools/render/render_core.h"

#ifdef __linux__
#include <sched.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "host/components.h"
#include "quib/error.h"
#include "tools/render/pixel_places.h"

namespace vantrel {

int ChannelsFor(OutputType type) {
    return VisitOutputType(type, []<class T>(std::type_identity<T>) {
        if constexpr (std::is_same_v<T, std::string>) {
            return 0;
        } else {
            constexpr int components = host::componentCount<T>;
            return components == 1 ? 1 : components == 4 ? 4 : 3;
        }
    });
}

BandSink::BandSink(int width, int height, int channels, int bandRows, int tailRows, int slots, int top,
                   int end)
    : width(width),
      height(height),
      channels(channels),
      bandRows(bandRows),
      tailRows(std::min(tailRows, bandRows)),
      slots(slots),
      // At least a band's worth of rows at the end, and less than two, go in short bands: while one
      // thread encodes the last long band, the others have rows left to render.
      bodyBands(std::max(0, (height - 1) / bandRows - 1)),
      tailStart(bodyBands * bandRows),
      top(top),
      end(end < 0 ? height : end) {}

namespace {

/// An evaluation call that takes less than this may take twice the pixels.
constexpr std::chrono::milliseconds quickCall{2};

/// The render's shared state. Rows are handed out one at a time, in order, so that the threads finish
/// together whatever each row costs; a band is encoded by the thread that completes the later of it
/// and the band above, and handed on, in order, by whichever render thread finds it next in turn, one
/// at a time: all the work is the render threads', so that one thread is one core. Everything but the
/// rows' and bands' own work happens under one lock: it is taken a few times a row, against a row's
/// thousands of samples.
class Schedule {
public:
    Schedule(const RenderRequest& request, BandSink& sink, const MeshRaster* raster)
        : request(request),
          sink(sink),
          raster(raster),
          slots(static_cast<std::size_t>(sink.Slots())),
          nextRow(sink.Top()),
          handedOn(sink.FirstBand()) {}

    /// Renders rows on a render thread until none is left or the render stops.
    template <class T>
    void Work() {
        try {
            RenderRows<T>();
        } catch (...) {
            Fail(std::current_exception());
        }
    }

    /// Waits, reporting progress meanwhile, until every band is handed on or the render stops. Returns
    /// true when all are.
    bool Wait();

    /// Stops the render: no row is handed out after this, and no band handed on.
    void Stop() {
        std::lock_guard lock(mutex);
        stopping = true;
        room.notify_all();
        finished.notify_all();
    }

    void Fail(std::exception_ptr error) {
        {
            std::lock_guard lock(mutex);
            if (!failure) failure = error;
        }
        Stop();
    }

    std::exception_ptr Failure() const { return failure; }

private:
    /// A band being rendered, encoded or handed on, in the slot the sink holds it in.
    struct Slot {
        int band = -1;
        int rowsLeft = 0;
        bool complete = false;  ///< every row stored
        bool claimed = false;   ///< a thread encodes it
        bool encoded = false;
    };

    bool Cancelled() const { return request.cancel != nullptr && request.cancel->load(); }

    template <class T>
    void RenderRows();
    /// Row `y` is stored: counts it, and encodes each band that it completes with the one above.
    void RowStored(std::unique_lock<std::mutex>& lock, int y);
    /// Hands on each encoded band whose turn has come, unless another thread already does.
    void HandOnEncoded(std::unique_lock<std::mutex>& lock);

    const RenderRequest& request;
    BandSink& sink;
    const MeshRaster* raster;  ///< a mesh domain's; null for the others
    std::mutex mutex;
    std::condition_variable room;      ///< a band was handed on, or the render stops
    std::condition_variable finished;  ///< every band was handed on, or the render stops
    std::vector<Slot> slots;
    int nextRow;
    int handedOn;
    bool handing = false;  ///< a thread hands bands on
    int rowsDone = 0;
    std::atomic<std::int64_t> samplesTaken{0};
    bool stopping = false;
    std::exception_ptr failure;
};

/// A pixel's value is the mean of N x N sub-samples at the centres of an N x N grid over the pixel
/// (N = `samples`; for 1 the pixel centre). A row is taken in N x N passes, one `SIMDEval` call each
/// over the row's sub-samples at the same place in every pixel, so the buffers are a row's, whatever N.
/// Each pixel sums its sub-samples in the same order, row of the grid by row, starting from the first
/// (so that one sample is its own value, -0 and not-a-number included), and divides once: each row
/// depends only on its index, and each band's bytes only on its rows and those above, so the image is
/// the same for any number of threads.
template <class T>
void Schedule::RenderRows() {
    const int width = request.width;
    const int end = sink.End();
    const int samples = request.samples;
    const int channels = sink.Channels();
    PixelPlaces places(request, raster);
    std::vector<FunContext> contexts(width);
    std::vector<T> values(width);
    std::vector<double> row(static_cast<std::size_t>(width) * channels, 0.0);
    // The pixels one evaluation call takes: one at first, doubled while calls are quick, so that a row
    // of slow samples (minutes each) shows its progress, and a row of quick ones costs a call or two.
    int chunk = 1;
    std::unique_lock lock(mutex);
    while (!stopping && nextRow < end) {
        if (Cancelled()) {
            lock.unlock();
            Stop();
            return;
        }
        const int y = nextRow;
        const int band = sink.BandOf(y);
        // The band's slot is free once the band that held it, and the one after that (whose encoding
        // reads its last rows), are handed on.
        if (band >= handedOn + sink.Slots() - 1) {
            room.wait(lock);
            continue;
        }
        if (y == sink.FirstRow(band)) slots[sink.SlotOf(band)] = {band, sink.EndRow(band) - y};
        ++nextRow;
        lock.unlock();
        const int live = places.Row(y);  // the pixels that take samples; the others are 0, transparent
        if (live < width) std::fill(row.begin(), row.end(), 0.0);
        for (int sy = 0; sy < samples; ++sy) {
            for (int sx = 0; sx < samples; ++sx) {
                for (int i = 0; i < live; ++i) {
                    contexts[i].position = places.Place(i, sx, sy);
                    values[i] = T{};
                }
                for (int x = 0, end = 0; x < live; x = end) {
                    end = std::min(live, x + chunk);
                    const auto start = std::chrono::steady_clock::now();
                    request.node.SIMDEval(values.data(), contexts.data(), x, end);
                    samplesTaken.fetch_add(end - x, std::memory_order_relaxed);
                    if (chunk < width && std::chrono::steady_clock::now() - start < quickCall) chunk *= 2;
                }
                const bool first = sy == 0 && sx == 0;
                for (int i = 0; i < live; ++i) {
                    const auto components = host::ComponentsOf(values[i]);
                    double* pixel = row.data() + static_cast<std::ptrdiff_t>(places.Column(i)) * channels;
                    for (std::size_t c = 0; c < components.size(); ++c)
                        pixel[c] = first ? components[c] : pixel[c] + components[c];
                }
            }
        }
        if (samples > 1) {
            const double count = static_cast<double>(samples) * samples;
            for (double& sum : row)
                sum /= count;
        }
        samplesTaken.fetch_add(std::int64_t{width - live} * samples * samples, std::memory_order_relaxed);
        sink.SetRow(y, row.data());
        lock.lock();
        RowStored(lock, y);
    }
}

void Schedule::RowStored(std::unique_lock<std::mutex>& lock, int y) {
    ++rowsDone;
    const int band = sink.BandOf(y);
    Slot& slot = slots[sink.SlotOf(band)];
    if (--slot.rowsLeft > 0) return;
    slot.complete = true;
    // This band may be encoded now, and so may the next, if it was complete before this one. The band
    // above a band still holds its slot: it is handed on only after the band below is encoded.
    for (const int next : {band, band + 1}) {
        if (next >= sink.EndBand()) break;
        Slot& each = slots[sink.SlotOf(next)];
        const bool aboveComplete = next == sink.FirstBand() || slots[sink.SlotOf(next - 1)].complete;
        if (each.band != next || !each.complete || each.claimed || !aboveComplete) continue;
        each.claimed = true;
        lock.unlock();
        sink.Encode(next);
        lock.lock();
        each.encoded = true;
    }
    HandOnEncoded(lock);
}

void Schedule::HandOnEncoded(std::unique_lock<std::mutex>& lock) {
    if (handing) return;  // that thread sees this band encoded once it has handed on the one before
    handing = true;
    while (!stopping && handedOn < sink.EndBand()) {
        const Slot& slot = slots[sink.SlotOf(handedOn)];
        if (slot.band != handedOn || !slot.encoded) break;
        lock.unlock();
        sink.Put(handedOn);
        lock.lock();
        ++handedOn;
        room.notify_all();
    }
    handing = false;
    if (handedOn == sink.EndBand()) finished.notify_all();
}

bool Schedule::Wait() {
    using Clock = std::chrono::steady_clock;
    constexpr auto progressEvery = std::chrono::milliseconds(200);
    constexpr auto cancelEvery = std::chrono::milliseconds(50);
    auto lastProgress = Clock::now();
    std::unique_lock lock(mutex);
    while (handedOn < sink.EndBand() && !stopping) {
        if (Cancelled()) {
            stopping = true;
            break;
        }
        finished.wait_for(lock, cancelEvery);
        if (request.progress && Clock::now() - lastProgress >= progressEvery) {
            lastProgress = Clock::now();
            const int rows = sink.End() - sink.Top();
            const RenderProgress done{rowsDone, rows, samplesTaken.load(std::memory_order_relaxed),
                                      std::int64_t{rows} * request.width * request.samples * request.samples};
            lock.unlock();
            request.progress(done);
            lock.lock();
        }
    }
    const bool complete = handedOn == sink.EndBand();
    stopping = true;
    room.notify_all();
    return complete;
}

}  // namespace

int DefaultThreads() {
#ifdef __linux__
    // The cores this process may run on (taskset, a container's or a batch scheduler's CPU set), not
    // the machine's: a thread more than those only waits its turn.
    cpu_set_t cores;
    if (::sched_getaffinity(0, sizeof cores, &cores) == 0) return std::max(1, CPU_COUNT(&cores));
#endif
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

bool Render(const RenderRequest& request, BandSink& sink) {
    const std::optional<MeshRaster> raster = RasterFor(request, sink.Top(), sink.End());
    Schedule schedule(request, sink, raster ? &*raster : nullptr);
    std::vector<std::thread> workers;
    bool complete = false;
    try {
        VisitOutputType(request.type, [&]<class T>(std::type_identity<T>) {
            if constexpr (!std::is_same_v<T, std::string>) {
                for (int i = 0; i < request.threads; ++i) {
                    try {
                        workers.emplace_back([&schedule] { schedule.Work<T>(); });
                    } catch (const std::system_error& error) {
                        // The system's own word ("Resource temporarily unavailable") does not say
                        // what it could not do: start this many threads, under a limit of memory or
                        // of processes.
                        throw quib::Error(
                            quib::Error::Kind::Failure,
                            "cannot start " + std::to_string(request.threads) +
                                (request.threads == 1 ? " render thread (" : " render threads (") +
                                std::to_string(i) + " started): " + error.code().message());
                    }
                }
            }
        });
        complete = schedule.Wait();
    } catch (...) {
        schedule.Fail(std::current_exception());
    }
    schedule.Stop();
    for (std::thread& worker : workers)
        worker.join();
    if (schedule.Failure()) std::rethrow_exception(schedule.Failure());
    return complete;
}

void SamplePositions(const RenderRequest& request, double* out) {
    const std::optional<MeshRaster> raster = RasterFor(request, 0, request.height);
    PixelPlaces places(request, raster ? &*raster : nullptr);
    const int samples = request.samples;
    const std::size_t pixel = 3 * static_cast<std::size_t>(samples) * samples;
    for (int y = 0; y < request.height; ++y, out += pixel * request.width) {
        std::fill(out, out + pixel * request.width, std::numeric_limits<double>::quiet_NaN());
        const int live = places.Row(y);
        for (int i = 0; i < live; ++i) {
            double* at = out + pixel * places.Column(i);
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    const Vec3d p = places.Place(i, sx, sy);
                    *at++ = p.x;
                    *at++ = p.y;
                    *at++ = p.z;
                }
            }
        }
    }
}

}  // namespace vantrel
