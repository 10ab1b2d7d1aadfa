// `vantrel render`: a sample at each pixel's centre, or the mean of N x N spread over the pixel, over
// the scene's domain, written to a PNG or OpenEXR file as its rows are rendered.

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <new>
#include <optional>
#include <ostream>
#include <span>
#include <thread>

#include "scene/scene.h"
#include "tools/cli/commands.h"
#include "tools/image/exr_encoder.h"
#include "tools/image/image_file.h"
#include "tools/image/output_file.h"
#include "tools/image/png_encoder.h"
#include "tools/render/render_core.h"

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

/// Shows the rows done and an estimate of the time left on standard error, which is a terminal, on one
/// line that it rewrites, and clears the line when it goes.
class Progress {
public:
    explicit Progress(int height) : height(height), start(std::chrono::steady_clock::now()) {}
    ~Progress() {
        if (shown > 0) std::fprintf(stderr, "\r%*s\r", shown, "");
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Show(int rowsDone) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char left[40] = "";
        if (rowsDone > 0) {
            // The rows still to do at the pace of those done.
            std::snprintf(left, sizeof left, ", %.0f s left", elapsed * (height - rowsDone) / rowsDone);
        }
        const int length = std::fprintf(stderr, "\rrendering: %d of %d rows%s", rowsDone, height, left) - 1;
        if (length < shown) std::fprintf(stderr, "%*s", shown - length, "");  // over a longer line before
        shown = std::max(shown, length);
    }

private:
    int height;
    std::chrono::steady_clock::time_point start;
    int shown = 0;
};

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

/// Bad input about `source` (a file, an option): `detail` says what.
quib::Error BadInput(const std::string& source, std::string detail) {
    return std::move(quib::Error(quib::Error::Kind::BadInput, std::move(detail)).WithSource(source));
}

/// Checks the options against the scene and each other; returns the output path.
std::filesystem::path OutputPath(const RenderOptions& options) {
    const std::filesystem::path scene = options.scene;
    std::filesystem::path output = options.output;
    if (output.empty()) output = scene.stem().string() + ".png";
    const std::optional<ImageFormat> format = FormatFor(output);
    if (!format) {
        throw BadInput(output.string(), "expected an output file name ending in .png or .exr");
    }
    if (*format == ImageFormat::Exr && !VANTREL_OPENEXR) {
        throw BadInput(output.string(), "this build of vantrel writes PNG only, not OpenEXR");
    }
    if (*format == ImageFormat::Exr && options.depth != 0) {
        throw BadInput("--depth", "an OpenEXR image always holds 32-bit floats; --depth is for PNG, not " +
                                      output.string());
    }
    std::error_code error;
    if (std::filesystem::equivalent(output, scene, error)) {
        throw BadInput(output.string(), "expected an output file other than the scene file");
    }
    return output;
}

}  // namespace

/// Refuses a type render cannot take: the text, and int with sub-samples. The type came from `source`,
/// at `pointer` when that is a scene file.
void CheckType(OutputType type, int samples, const std::string& source,
               std::optional<std::string> pointer = {}) {
    if (type == OutputType::String) {
        quib::Error error = BadInput(source, "render needs a numeric output type, not string");
        if (pointer) error.AtPointer(*pointer);
        throw error;
    }
    if (type == OutputType::Int && samples > 1) {
        throw BadInput(
            "--samples",
            "a pixel's sub-samples are averaged, and a mean of integers is no integer; --samples is "
            "for the real-valued types, not int");
    }
}

void RunRender(const Scene::ModulePointer& module, const RenderOptions& options, std::ostream& out) {
    // A type given is checked at once; a scene's own once the scene is read.
    if (options.type) CheckType(*options.type, options.samples, "--type");
    const std::filesystem::path output = OutputPath(options);
    const Scene scene = Scene::FromFile(options.scene, module, options.edits);
    const OutputType type = TypeFor(options.type, scene);
    if (!options.type) CheckType(type, options.samples, options.scene, "/output_type");
    SampleDomain domain = scene.Domain();
    if (options.region) {
        try {
            domain = domain.Part(*options.region);
        } catch (quib::Error& error) {
            throw std::move(error.WithSource("--region"));
        }
    }
    const int width = options.width;
    const int channels = ChannelsFor(type);
    const ImageFormat format = *FormatFor(output);
    const ImageLimits limits = LargestImage(format, channels);
    const std::string formatName = format == ImageFormat::Png ? "a PNG" : "an OpenEXR image";
    const std::string ofChannels =
        format == ImageFormat::Png
            ? ""
            : " of " + std::to_string(channels) + (channels == 1 ? " channel" : " channels");
    std::string size = "--size " + std::to_string(width);  // as given: W or WxH
    if (options.height > 0) size.append("x").append(std::to_string(options.height));
    if (width > limits.width) {
        throw BadInput(size, "expected at most " + std::to_string(limits.width) + " pixels wide for " +
                                 formatName + ofChannels + " (" + limits.why + ")");
    }
    if (options.height > limits.height) {
        throw BadInput(size, "expected at most " + std::to_string(limits.height) + " pixels high for " +
                                 formatName + " (" + limits.why + ")");
    }
    const double domainHeight = options.height > 0 ? options.height : domain.HeightFor(width);
    if (domainHeight > limits.height) {
        char figure[32];
        std::snprintf(figure, sizeof figure, domainHeight < 1e15 ? "%.0f" : "about %.3g", domainHeight);
        throw BadInput(options.scene, "at a width of " + std::to_string(width) + " the image would be " +
                                          figure + " pixels high; expected at most " +
                                          std::to_string(limits.height) + " for " + formatName +
                                          " (or give --size)")
            .AtPointer("/domain");
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
    try {
        std::optional<Progress> progress;
        RenderRequest request{scene.Output(), domain,          width,   height, type,
                              threads,        options.samples, nullptr, {}};
        if (::isatty(STDERR_FILENO)) {
            progress.emplace(height);
            request.progress = [&](int rowsDone) { progress->Show(rowsDone); };
        }
        if (format == ImageFormat::Png) {
            OutputBytes bytes(file.Path(), "the PNG");
            PngEncoder png(width, height, channels, options.depth != 0 ? options.depth : 8,
                           BandsInFlight(threads),
                           [&](std::span<const std::uint8_t> piece) { bytes.Put(piece); });
            Render(request, png);
            bytes.Close();
        } else {
            OutputBytes bytes(file.Path(), "the OpenEXR image");
            ExrEncoder exr(width, height, channels, BandsInFlight(threads), bytes);
            if (Render(request, exr)) exr.Finish();
            bytes.Close();
        }
    } catch (const std::bad_alloc&) {
        throw quib::Error(quib::Error::Kind::Failure, "not enough memory for a " + std::to_string(width) +
                                                          "x" + std::to_string(height) + " image")
            .WithSource(output.string());
    } catch (const quib::Error& error) {
        if (!error.Source().empty()) throw;
        throw quib::Error(error.GetKind(), NamingTarget(error.Detail(), file.Path(), output))
            .WithSource(output.string());
    }
    stopSignals.Commit(file);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double samples = static_cast<double>(width) * height * options.samples * options.samples;
    char report[160];
    std::snprintf(report, sizeof report, "%dx%d, %.0f samples in %.3f s, %.0f samples/s on %d thread%s\n",
                  width, height, samples, seconds, samples / seconds, threads, threads == 1 ? "" : "s");
    out << output.string() << ": " << report;
}

}  // namespace vantrel
