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

/// How often `poll` is called while the work runs: twenty times a second.
constexpr auto pollInterval = std::chrono::milliseconds(50);

/// How long a piece of a chunk should take: long enough that timing it costs nothing beside its
/// samples, short enough that a stop is seen at once.
constexpr auto pieceTime = std::chrono::microseconds(2000);

/// Evaluates the chunks of positions from `next` on, until none is left or `stopped()` says to stop.
/// A chunk goes to the node in pieces sized by the time they take, from one sample to the whole
/// chunk, and `stopped` is asked between pieces: a cheap scene is evaluated a chunk a call, and a
/// costly one (a fractal's sample may take a second) stops after the sample it is taking, not after
/// a thousand more. Each value is the node's for its position, however the chunk was cut.
template <class T, class Stopped>
void EvalChunks(Function& node, std::span<const double> xyz, std::span<T> values,
                std::atomic<std::size_t>& next, Stopped stopped) {
    std::vector<FunContext> contexts(std::min(chunkPositions, values.size()));
    std::size_t piece = 1;  // grows to the chunk while pieces are quick, eightfold a time
    while (!stopped()) {
        const std::size_t first = next.fetch_add(chunkPositions);
        if (first >= values.size()) return;
        const std::size_t count = std::min(chunkPositions, values.size() - first);
        for (std::size_t i = 0; i < count; ++i) {
            const double* p = xyz.data() + 3 * (first + i);
            contexts[i].position = {p[0], p[1], p[2]};
            values[first + i] = T{};
        }
        auto start = std::chrono::steady_clock::now();
        for (std::size_t done = 0; done < count && !stopped();) {
            const std::size_t end = std::min(count, done + piece);
            node.SIMDEval(values.data() + first, contexts.data(), static_cast<int>(done),
                          static_cast<int>(end));
            const auto now = std::chrono::steady_clock::now();
            const auto took = now - start;
            start = now;
            if (took < pieceTime / 8 && end - done == piece) piece = std::min(8 * piece, chunkPositions);
            if (took > 4 * pieceTime) piece = std::max<std::size_t>(1, piece / 2);
            done = end;
        }
    }
}

}  // namespace

template <class T>
void EvalAt(Function& node, std::span<const double> xyz, std::span<T> values, int threads,
            const std::function<void()>& poll) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    const std::size_t chunks = (values.size() + chunkPositions - 1) / chunkPositions;
    if (chunks <= 1) {  // not worth a thread: this one polls between its pieces
        auto polled = std::chrono::steady_clock::now();
        return EvalChunks(node, xyz, values, next, [&] {
            const auto now = std::chrono::steady_clock::now();
            if (poll && now - polled >= pollInterval) {
                polled = now;
                poll();
            }
            return false;
        });
    }
    const int workers = static_cast<int>(std::min<std::size_t>(std::max(threads, 1), chunks));
    std::mutex mutex;
    std::condition_variable finished;
    int running = workers;
    std::exception_ptr failure;
    std::vector<std::thread> started;
    auto work = [&] {
        try {
            EvalChunks(node, xyz, values, next, [&] { return stop.load(std::memory_order_relaxed); });
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
            finished.wait_for(lock, pollInterval);
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
