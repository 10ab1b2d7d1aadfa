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

#include "quib/text.h"
#include "scene/scene.h"
#include "tools/cli/commands.h"
#include "tools/cli/stop_signals.h"
#include "tools/image/exr_encoder.h"
#include "tools/image/image_file.h"
#include "tools/image/output_file.h"
#include "tools/image/part_file.h"
#include "tools/image/png_encoder.h"
#include "tools/render/render_core.h"

namespace vantrel {
namespace {

/// Shows on standard error, a terminal, on one line that it rewrites, the rows done, the share of the
/// samples taken, and the time left at the pace so far (or, before the first sample is back, the time
/// taken); clears the line when it goes.
class Progress {
public:
    Progress() : start(std::chrono::steady_clock::now()) {}
    ~Progress() {
        if (shown > 0) std::fprintf(stderr, "\r%*s\r", shown, "");
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Show(const RenderProgress& done) {
        // A part's count takes the rows above it that it renders too.
        const int rows = std::min(done.rowsDone, done.rows);
        const double share = std::min(1.0, static_cast<double>(done.samplesTaken) / done.samples);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char time[48];
        if (share > 0) {
            std::snprintf(time, sizeof time, "%s left", Duration(elapsed * (1 - share) / share).c_str());
        } else {
            std::snprintf(time, sizeof time, "%s so far", Duration(elapsed).c_str());
        }
        const int length = std::fprintf(stderr, "\rrendering: %d of %d rows, %.1f %% of the samples, %s",
                                        rows, done.rows, 100 * share, time) -
                           1;
        if (length < shown) std::fprintf(stderr, "%*s", shown - length, "");  // over a longer line before
        shown = std::max(shown, length);
    }

private:
    /// Seconds as a person reads them: "40 s", "12 min", "3.5 h".
    static std::string Duration(double seconds) {
        char text[32];
        if (seconds < 120) {
            std::snprintf(text, sizeof text, "%.0f s", seconds);
        } else if (seconds < 7200) {
            std::snprintf(text, sizeof text, "%.0f min", seconds / 60);
        } else {
            std::snprintf(text, sizeof text, "%.1f h", seconds / 3600);
        }
        return text;
    }

    std::chrono::steady_clock::time_point start;
    int shown = 0;
};

/// Bad input about `source` (a file, an option): `detail` says what.
quib::Error BadInput(const std::string& source, std::string detail) {
    return std::move(quib::Error(quib::Error::Kind::BadInput, std::move(detail)).WithSource(source));
}

/// The format of the image a file of render's is or becomes: its extension's, or for a part file
/// (NAME.png.part, NAME.exr.part) the extension's before ".part".
std::optional<ImageFormat> OutputFormat(const std::filesystem::path& output, bool part) {
    if (!part) return FormatFor(output);
    if (output.extension() != ".part") return std::nullopt;
    return FormatFor(output.stem());
}

/// Checks the options against the scene and each other; returns the output path.
std::filesystem::path OutputPath(const RenderOptions& options) {
    const std::filesystem::path scene = options.scene;
    const bool part = options.parts > 0;
    std::filesystem::path output = options.output;
    if (output.empty() && part) {
        output = scene.stem().string() + "." + std::to_string(options.part) + "-of-" +
                 std::to_string(options.parts) + ".png.part";
    }
    if (output.empty()) output = scene.stem().string() + ".png";
    const std::optional<ImageFormat> format = OutputFormat(output, part);
    if (!format) {
        throw BadInput(output.string(),
                       part ? "expected a part file name ending in .png.part or .exr.part (the image "
                              "the parts join into)"
                            : "expected an output file name ending in .png or .exr");
    }
    if (*format == ImageFormat::Exr && !VANTREL_OPENEXR) {
        throw BadInput(output.string(), "this build of vantrel writes PNG only, not OpenEXR");
    }
    if (*format == ImageFormat::Exr && options.depth != 0) {
        throw BadInput("--depth", "an OpenEXR image always holds 32-bit floats; --depth is for PNG, not " +
                                      output.string());
    }
    if (*format == ImageFormat::Exr && options.linear) {
        throw BadInput("--linear", "an OpenEXR image always holds linear values; --linear is for PNG, not " +
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
    const JsonDocument document = ReadSceneFile(options.scene);
    const Scene scene = Scene::FromDocument(document, options.scene, module, options.edits);
    const OutputType type = TypeFor(options.type, scene);
    if (!options.type) CheckType(type, options.samples, options.scene, "/output_type");
    // The scene's own sub-samples are what its picture was seen with; an int image takes one.
    const int samples = options.samples > 0       ? options.samples
                        : type == OutputType::Int ? 1
                                                  : scene.NamedSamples().value_or(1);
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
    const bool inParts = options.parts > 0;
    const ImageFormat format = *OutputFormat(output, inParts);
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
    if (options.parts > height) {
        throw BadInput("--part " + std::to_string(options.part) + "/" + std::to_string(options.parts),
                       "expected at most " + std::to_string(height) + " parts, the rows of the " +
                           std::to_string(width) + "x" + std::to_string(height) + " image");
    }
    const int threads = options.threads > 0 ? options.threads : DefaultThreads();
    const int depth = options.depth != 0 ? options.depth : 8;
    const PngLevels levels = LevelsFor(type, options.linear);
    const auto [firstRow, endRow] =
        inParts ? PartRows(height, options.part, options.parts) : std::pair(0, height);

    // Before the work, so that an unwritable folder or a target that cannot be replaced fails at once.
    GuardedFile file(output);
    const auto start = std::chrono::steady_clock::now();
    try {
        std::optional<Progress> progress;
        RenderRequest request{scene.Output(), domain, width, height, type, threads, samples, nullptr, {}};
        if (::isatty(STDERR_FILENO)) {
            progress.emplace();
            request.progress = [&](const RenderProgress& done) { progress->Show(done); };
        }
        if (inParts) {
            // The render's name: the scene as built (the file's JSON with the edits made) and all that
            // the options make of the image.
            quib::Json built = document.Value();
            options.edits.ApplyTo(built, options.scene, scene.Modules());
            OutputBytes bytes(file.Path(), "the part file");
            RenderPart({request, format, depth, levels, std::move(built), scene.Modules().Versions(),
                        options.part, options.parts},
                       [&](std::span<const std::uint8_t> piece) { bytes.Put(piece); });
            bytes.Close();
        } else if (format == ImageFormat::Png) {
            OutputBytes bytes(file.Path(), "the PNG");
            PngEncoder png(width, height, channels, depth, levels, BandsInFlight(threads),
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
        throw quib::Error(error.GetKind(), error.Detail()).WithSource(output.string());
    }
    file.Commit();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double taken = static_cast<double>(width) * (endRow - firstRow) * samples * samples;
    char report[240];
    char what[100];
    if (inParts) {
        std::snprintf(what, sizeof what, "part %d of %d (rows %d to %d of %dx%d)", options.part,
                      options.parts, firstRow, endRow, width, height);
    } else {
        std::snprintf(what, sizeof what, "%dx%d", width, height);
    }
    std::snprintf(report, sizeof report, "%s, %.0f samples in %.3f s, %.0f samples/s on %d thread%s\n", what,
                  taken, seconds, taken / seconds, threads, threads == 1 ? "" : "s");
    out << quib::Printable(output.string()) << ": " << report;  // the name as messages show it
}

}  // namespace vantrel
