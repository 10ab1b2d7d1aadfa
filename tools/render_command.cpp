// `vantrel render`: a sample at each pixel's centre, or the mean of N x N spread over the pixel, over
// the scene's domain, written to a PNG or OpenEXR file.

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <thread>
#include <vector>

#include "host/components.h"
#include "quib/scene.h"
#include "tools/commands.h"
#include "tools/image_file.h"

namespace vantrel {
namespace {

/// The pending file a stop signal removes, or null. Read by the signal handler, so a lock-free atomic.
/// (A path's characters are wide on Windows.)
std::atomic<const std::filesystem::path::value_type*> pendingPath{nullptr};
static_assert(decltype(pendingPath)::is_always_lock_free);

/// Removes the pending file and ends the program by the signal, at once, whatever the render threads
/// are doing: a sample may take hours, or never end, and a node's `Eval` has no way to be told to stop,
/// so nothing waits for them. The handler runs once (SA_RESETHAND) and may take the signal again inside
/// itself (SA_NODEFER), so raising it ends the program by it there. unlink and raise are safe in a
/// signal handler.
extern "C" void OnStopSignal(int signal) {
    if (const auto* path = pendingPath.load()) ::unlink(path);
    std::raise(signal);
}

/// While it lives, SIGINT and SIGTERM remove the pending file and end the program by that signal.
class StopSignals {
public:
    explicit StopSignals(const PendingFile& file) {
        pendingPath.store(file.Path().c_str());
        struct sigaction action = {};
        action.sa_handler = OnStopSignal;
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        for (int i = 0; i < 2; ++i)
            sigaction(signals[i], &action, &previous[i]);
    }
    ~StopSignals() {
        for (int i = 0; i < 2; ++i)
            sigaction(signals[i], &previous[i], nullptr);
        pendingPath.store(nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    /// Puts the file in place with the stop signals held back, so that a signal cannot remove it while
    /// it is renamed; one that arrives meanwhile ends the program once the new file is in place. Called
    /// when the thread that calls it is the only one that takes the signals (main blocks them).
    void Commit(PendingFile& file) {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : signals)
            sigaddset(&held, signal);
        sigset_t before;
        pthread_sigmask(SIG_BLOCK, &held, &before);
        try {
            file.Commit();
        } catch (...) {
            pthread_sigmask(SIG_SETMASK, &before, nullptr);
            throw;
        }
        pendingPath.store(nullptr);
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }

private:
    static constexpr int signals[2] = {SIGINT, SIGTERM};
    struct sigaction previous[2];
};

/// Image channels for a value of `components` reals: grey, RGB (a pair as red and green) or RGBA.
int ChannelsFor(int components) {
    return components == 1 ? 1 : components == 4 ? 4 : 3;
}

/// What the render threads share.
struct RenderJob {
    RenderJob(Function& node, const quib::SampleDomain& domain, Image& image, int samples)
        : node(node), domain(domain), image(image), samples(samples) {}

    Function& node;
    const quib::SampleDomain& domain;
    Image& image;
    int samples;  ///< sub-samples along each side of a pixel
    std::atomic<int> nextBand{0};
    std::atomic<int> rowsDone{0};

    // Completion, for the progress display to wait on.
    std::mutex mutex;
    std::condition_variable finished;
    int threadsRunning = 0;
    std::exception_ptr failure;
};

/// Renders bands of rows pulled from the shared counter until none is left, and finishes each (a PNG
/// compresses each band whose rows and the rows above are stored) on the same thread.
///
/// A pixel's value is the mean of N x N sub-samples at the centres of an N x N grid over the pixel
/// (N = `samples`; for 1 the pixel centre). A row is taken in N x N passes, one `SIMDEval` call each
/// over the row's sub-samples at the same place in every pixel, so the buffers are a row's, whatever N.
/// Each pixel sums its sub-samples in the same order, row of the grid by row, starting from the first
/// (so that one sample is its own value, -0 and not-a-number included), and divides once: each row
/// depends only on its index, and each band's bytes only on its rows and those above, so the file is
/// the same for any number of threads.
template <class T>
void RenderRows(RenderJob& job) {
    Image& image = job.image;
    const int width = image.Width();
    const int height = image.Height();
    const int channels = image.Channels();
    const int samples = job.samples;
    std::vector<FunContext> contexts(width);
    std::vector<T> values(width);
    std::vector<double> row(static_cast<std::size_t>(width) * channels, 0.0);
    const auto renderRow = [&](int y) {
        for (int sy = 0; sy < samples; ++sy) {
            const double v = (y + (sy + 0.5) / samples) / height;
            for (int sx = 0; sx < samples; ++sx) {
                const double offset = (sx + 0.5) / samples;
                for (int x = 0; x < width; ++x) {
                    contexts[x].position = job.domain.Position((x + offset) / width, v);
                    values[x] = T{};
                }
                job.node.SIMDEval(values.data(), contexts.data(), 0, width);
                const bool first = sy == 0 && sx == 0;
                for (int x = 0; x < width; ++x) {
                    const auto components = quib::ComponentsOf(values[x]);
                    double* pixel = row.data() + static_cast<std::ptrdiff_t>(x) * channels;
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
        image.SetRow(y, row.data());
        ++job.rowsDone;
    };
    for (int band = job.nextBand++; band < image.Bands(); band = job.nextBand++) {
        for (int y = image.FirstRow(band); y < image.EndRow(band); ++y)
            renderRow(y);
        image.FinishBand(band);
    }
}

/// Runs `threads` render threads and waits for them, showing progress on standard error when it is a
/// terminal.
template <class T>
void RenderImage(RenderJob& job, int threads) {
    std::vector<std::thread> workers;
    job.threadsRunning = threads;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&job] {
            try {
                RenderRows<T>(job);
            } catch (...) {
                std::lock_guard lock(job.mutex);
                if (!job.failure) job.failure = std::current_exception();
            }
            std::lock_guard lock(job.mutex);
            --job.threadsRunning;
            job.finished.notify_all();
        });
    }
    if (::isatty(STDERR_FILENO)) {
        std::unique_lock lock(job.mutex);
        while (!job.finished.wait_for(lock, std::chrono::milliseconds(200),
                                      [&] { return job.threadsRunning == 0; })) {
            std::fprintf(stderr, "\rrendering %3d%%", 100 * job.rowsDone.load() / job.image.Height());
        }
        std::fprintf(stderr, "\r              \r");
    }
    for (std::thread& worker : workers)
        worker.join();
    if (job.failure) std::rethrow_exception(job.failure);
}

/// A message about the pending file as the user reads it: where it quotes the pending file's path (the
/// OpenEXR library's do), the target's instead, as the pending file is gone when the message is read.
std::string NamingTarget(std::string message, const std::filesystem::path& pending,
                         const std::filesystem::path& target) {
    const std::string from = pending.string();
    const std::string to = target.string();
    for (std::size_t at = message.find(from); at != std::string::npos;
         at = message.find(from, at + to.size()))
        message.replace(at, from.size(), to);
    return message;
}

/// Checks the options against the scene and each other; returns the output path.
std::filesystem::path OutputPath(const RenderOptions& options) {
    const std::filesystem::path scene = options.scene;
    std::filesystem::path output = options.output;
    if (output.empty()) output = scene.stem().string() + ".png";
    const std::optional<ImageFormat> format = FormatFor(output);
    if (!format) {
        throw InputError(output.string() + ": expected an output file name ending in .png or .exr");
    }
    if (*format == ImageFormat::Exr && !VANTREL_OPENEXR) {
        throw InputError(output.string() + ": this build of vantrel writes PNG only, not OpenEXR");
    }
    if (*format == ImageFormat::Exr && options.depth != 0) {
        throw InputError("--depth: an OpenEXR image always holds 32-bit floats; --depth is for PNG, not " +
                         output.string());
    }
    std::error_code error;
    if (std::filesystem::equivalent(output, scene, error)) {
        throw InputError(output.string() + ": expected an output file other than the scene file");
    }
    return output;
}

}  // namespace

void RunRender(const quib::Module& module, const RenderOptions& options, std::ostream& out) {
    if (options.type == OutputType::String)
        throw InputError("--type: render needs a numeric output type, not string");
    if (options.type == OutputType::Int && options.samples > 1) {
        throw InputError(
            "--samples: a pixel's sub-samples are averaged, and a mean of integers is no integer; "
            "--samples is for the real-valued types, not int");
    }
    const std::filesystem::path output = OutputPath(options);
    const quib::Scene scene = quib::Scene::FromFile(options.scene, module, options.edits);
    const quib::SampleDomain domain = DomainFor(scene.Domain(), options.region, "--region");
    const int width = options.width;
    const double domainHeight = options.height > 0 ? options.height : domain.HeightFor(width);
    if (domainHeight > largestSide) {
        char figure[32];
        std::snprintf(figure, sizeof figure, domainHeight < 1e15 ? "%.0f" : "about %.3g", domainHeight);
        throw InputError(options.scene + ": domain: at a width of " + std::to_string(width) +
                         " the image would be " + figure + " pixels high; expected at most " +
                         std::to_string(largestSide) + " (or give --size)");
    }
    const int height = static_cast<int>(domainHeight);
    if (options.height > 0 && domain.HeightFor(width) != height) {
        std::fprintf(stderr,
                     "vantrel: --size %dx%d is not the shape of the %s, so its pixels are not square\n",
                     width, height, options.region ? "region" : "domain");
    }
    const int threads =
        options.threads > 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());

    PendingFile file(output);  // before the work, so that an unwritable folder fails at once
    StopSignals stopSignals(file);
    const auto start = std::chrono::steady_clock::now();
    VisitOutputType(options.type, [&]<class T>(std::type_identity<T>) {
        if constexpr (!std::is_same_v<T, std::string>) {
            std::optional<Image> image;
            try {
                image.emplace(width, height, ChannelsFor(quib::componentCount<T>), *FormatFor(output),
                              options.depth != 0 ? options.depth : 8);
            } catch (const std::bad_alloc&) {
                throw std::runtime_error(output.string() + ": not enough memory for a " +
                                         std::to_string(width) + "x" + std::to_string(height) + " image");
            }
            RenderJob job(scene.Output(), domain, *image, options.samples);
            RenderImage<T>(job, threads);
            try {
                image->Write(file.Path());
            } catch (const std::runtime_error& error) {
                throw std::runtime_error(output.string() + ": " +
                                         NamingTarget(error.what(), file.Path(), output));
            }
        }
    });
    stopSignals.Commit(file);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double samples = static_cast<double>(width) * height * options.samples * options.samples;
    char report[160];
    std::snprintf(report, sizeof report, "%dx%d, %.0f samples in %.3f s, %.0f samples/s on %d thread%s\n",
                  width, height, samples, seconds, samples / seconds, threads, threads == 1 ? "" : "s");
    out << output.string() << ": " << report;
}

}  // namespace vantrel
