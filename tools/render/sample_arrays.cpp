#include "tools/render/sample_arrays.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantrel {
namespace {

/// Positions a thread takes at once: enough that taking them costs nothing beside their samples, few
/// enough that two threads finish close together on a few thousand.
constexpr std::size_t chunkPositions = 1024;

/// Evaluates the chunks of positions from `next` on, until none is left or `stop` is set.
template <class T>
void EvalChunks(Function& node, std::span<const double> xyz, std::span<T> values,
                std::atomic<std::size_t>& next, const std::atomic<bool>& stop) {
    std::vector<FunContext> contexts(std::min(chunkPositions, values.size()));
    while (!stop.load()) {
        const std::size_t first = next.fetch_add(chunkPositions);
        if (first >= values.size()) return;
        const std::size_t count = std::min(chunkPositions, values.size() - first);
        for (std::size_t i = 0; i < count; ++i) {
            const double* p = xyz.data() + 3 * (first + i);
            contexts[i].position = {p[0], p[1], p[2]};
            values[first + i] = T{};
        }
        node.SIMDEval(values.data() + first, contexts.data(), 0, static_cast<int>(count));
    }
}

}  // namespace

template <class T>
void EvalAt(Function& node, std::span<const double> xyz, std::span<T> values, int threads,
            const std::function<void()>& poll) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    const std::size_t chunks = (values.size() + chunkPositions - 1) / chunkPositions;
    if (chunks <= 1) return EvalChunks(node, xyz, values, next, stop);  // not worth a thread
    const int workers = static_cast<int>(std::min<std::size_t>(std::max(threads, 1), chunks));
    std::mutex mutex;
    std::condition_variable finished;
    int running = workers;
    std::exception_ptr failure;
    std::vector<std::thread> started;
    auto work = [&] {
        try {
            EvalChunks(node, xyz, values, next, stop);
        } catch (...) {
            std::lock_guard lock(mutex);
            if (!failure) failure = std::current_exception();
            stop = true;
        }
        std::lock_guard lock(mutex);
        if (--running == 0) finished.notify_all();
    };
    try {
        for (int i = 0; i < workers; ++i)
            started.emplace_back(work);
        std::unique_lock lock(mutex);
        while (running > 0) {
            finished.wait_for(lock, std::chrono::milliseconds(50));
            if (running > 0 && poll) {
                lock.unlock();
                poll();
                lock.lock();
            }
        }
    } catch (...) {
        std::lock_guard lock(mutex);
        if (!failure) failure = std::current_exception();
    }
    stop = true;
    for (std::thread& thread : started)
        thread.join();
    if (failure) std::rethrow_exception(failure);
}

// The value types of the nine output types.
#define VANTREL_EVAL_AT(T)                                                         \
    template void EvalAt<T>(Function&, std::span<const double>, std::span<T>, int, \
                            const std::function<void()>&);
VANTREL_EVAL_AT(std::string)
VANTREL_EVAL_AT(ColorA)
VANTREL_EVAL_AT(Color)
VANTREL_EVAL_AT(Quaternion)
VANTREL_EVAL_AT(Vec4d)
VANTREL_EVAL_AT(Vec3d)
VANTREL_EVAL_AT(Vec2d)
VANTREL_EVAL_AT(double)
VANTREL_EVAL_AT(int)
#undef VANTREL_EVAL_AT

ImageBuffer::ImageBuffer(int width, int height, int channels, double* pixels)
    // A slot more than there are rows, so that a row never waits for one (but at 2^31 - 1 rows).
    : BandSink(width, height, channels, 1, 1, height < INT_MAX ? height + 1 : height), pixels(pixels) {}

void ImageBuffer::SetRow(int y, const double* values) {
    const std::size_t rowValues = static_cast<std::size_t>(Width()) * Channels();
    std::memcpy(pixels + static_cast<std::size_t>(y) * rowValues, values, rowValues * sizeof(double));
}

void EncodeImage(const double* pixels, BandSink& sink) {
    const std::size_t rowValues = static_cast<std::size_t>(sink.Width()) * sink.Channels();
    for (int band = 0; band < sink.Bands(); ++band) {
        for (int y = sink.FirstRow(band); y < sink.EndRow(band); ++y)
            sink.SetRow(y, pixels + static_cast<std::size_t>(y) * rowValues);
        sink.Encode(band);
        sink.Put(band);
    }
}

}  // namespace vantrel
