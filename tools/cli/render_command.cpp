// `vantrel render`: a sample at each pixel's centre, or the mean of N x N spread over the pixel, over
// the scene's domain, written to a PNG or OpenEXR file as its rows are rendered.

#include <pthread.h>

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
#include "tools/cli/progress.h"
#include "tools/cli/stop_signals.h"
#include "tools/image/image_file.h"
#include "tools/image/output_file.h"
#include "tools/image/part_file.h"
#include "tools/render/image_writer.h"
#include "tools/render/render_core.h"

namespace vantrel {
namespace {

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

/// The output path the options name, or the scene's name in the current folder.
std::filesystem::path OutputPath(const RenderOptions& options) {
    const std::filesystem::path scene = options.scene;
    std::filesystem::path output = options.output;
    if (output.empty() && options.part > 0) {
        output = scene.stem().string() + "." + std::to_string(options.part) + "-of-" +
                 std::to_string(*options.image.parts) + ".png.part";
    }
    if (output.empty()) output = scene.stem().string() + ".png";
    std::error_code error;
    if (std::filesystem::equivalent(output, scene, error)) {
        throw BadInput(output.string(), "expected an output file other than the scene file");
    }
    return output;
}

/// The image's format, from the output's name.
ImageFormat FormatOf(const std::filesystem::path& output, bool part) {
    const std::optional<ImageFormat> format = OutputFormat(output, part);
    if (format) return *format;
    throw BadInput(output.string(), part ? "expected a part file name ending in .png.part or .exr.part (the "
                                           "image the parts join into)"
                                         : "expected an output file name ending in .png or .exr");
}

/// How the command line names each field of a render, the format by the output file's name.
RequestFields CommandLineFields(const std::filesystem::path& output) {
    return {"--type",        "--size",  "--size",   "--region",  "--window", "--samples",
            output.string(), "--depth", "--linear", "--threads", "--part",   "--tile"};
}

/// Renders part `options.part` of the image of `plan` into the part file `path`, streamed as its bands
/// are done. Its name: the scene as built (the file's JSON with the edits made) and all that the options
/// make of the image.
void WritePart(const ImagePlan& plan, const RenderRequest& request, const Scene& scene,
               const JsonDocument& document, const RenderOptions& options,
               const std::filesystem::path& path) {
    quib::Json built = document.Value();
    options.edits.ApplyTo(built, options.scene, scene.Modules());
    OutputBytes bytes(path, "the part file");
    RenderPart({request, plan, std::move(built), scene.Modules().Versions(), options.part,
                static_cast<int>(*options.image.parts)},
               [&](std::span<const std::uint8_t> piece) { bytes.Put(piece); });
    bytes.Close();
}

/// "NAME: WxH, S samples in T s, R samples/s on N threads" for a render of the rows `rows` that took
/// `seconds`.
void Report(const ImagePlan& plan, const RenderOptions& options, std::pair<int, int> rows, double seconds,
            const std::filesystem::path& output, std::ostream& out) {
    const double taken =
        static_cast<double>(plan.width) * (rows.second - rows.first) * plan.samples * plan.samples;
    char report[240];
    char what[100];
    if (options.part > 0) {
        std::snprintf(what, sizeof what, "part %d of %lld (rows %d to %d of %dx%d)", options.part,
                      *options.image.parts, rows.first, rows.second, plan.width, plan.height);
    } else {
        std::snprintf(what, sizeof what, "%dx%d", plan.width, plan.height);
    }
    std::snprintf(report, sizeof report, "%s, %.0f samples in %.3f s, %.0f samples/s on %d thread%s\n", what,
                  taken, seconds, taken / seconds, plan.threads, plan.threads == 1 ? "" : "s");
    out << quib::Printable(output.string()) << ": " << report;  // the name as messages show it
}

}  // namespace

void WarnOfSkippedTriangles(const SampleDomain& domain) {
    if (!domain.mesh || domain.mesh->skipped == 0) return;
    const long long skipped = domain.mesh->skipped;
    std::fprintf(stderr, "vantrel: %s: %lld triangle%s without area left out\n",
                 quib::Printable(domain.mesh->name).c_str(), skipped, skipped == 1 ? "" : "s");
}

void RunRender(const Scene::ModulePointer& module, const RenderOptions& options, std::ostream& out) {
    const bool inParts = options.part > 0;
    const std::filesystem::path output = OutputPath(options);
    ImageRequest asked = options.image;
    asked.format = FormatOf(output, inParts);
    const JsonDocument document = ReadSceneFile(options.scene);
    const Scene scene = Scene::FromDocument(document, options.scene, module, options.edits);
    WarnOfSkippedTriangles(scene.Domain());
    const ImagePlan plan = PlanImage(asked, scene, options.scene, CommandLineFields(output));
    const PixelGrid grid = plan.Grid();
    if (asked.height && plan.domain.HeightFor(grid.width) != grid.height) {
        std::fprintf(stderr,
                     "vantrel: --size %dx%d is not the shape of the %s, so its pixels are not square\n",
                     grid.width, grid.height, asked.region ? "region" : "domain");
    }
    const auto rows = inParts ? PartRows(plan.height, options.part, static_cast<int>(*asked.parts))
                              : std::pair(0, plan.height);

    // Before the work, so that an unwritable folder or a target that cannot be replaced fails at once.
    GuardedFile file(output);
    const auto start = std::chrono::steady_clock::now();
    try {
        std::optional<Progress> progress;
        RenderRequest request = plan.Render(scene.Output());
        ShowProgress(request, progress);
        if (inParts) {
            WritePart(plan, request, scene, document, options, file.Path());
        } else {
            const ImageRows rows = [&](BandSink& sink) { return Render(request, sink); };
#ifdef VANTREL_TILES_FILE  // else no plan has tiles: a build without OpenEXR refuses them
            if (plan.tile > 0) {
                reinterpret_cast<TiledWriter*>(LoadBeside(VANTREL_TILES_FILE, "VantrelWriteTiled"))(
                    plan, file.Path(), rows);
            }
#endif
            if (plan.tile == 0) WriteImageFile(plan, file.Path(), rows);
        }
    } catch (const std::bad_alloc&) {
        throw quib::Error(quib::Error::Kind::Failure, "not enough memory for a " +
                                                          std::to_string(plan.width) + "x" +
                                                          std::to_string(plan.height) + " image")
            .WithSource(output.string());
    } catch (const quib::Error& error) {
        if (!error.Source().empty()) throw;
        throw quib::Error(error.GetKind(), error.Detail()).WithSource(output.string());
    }
    file.Commit();
    Report(plan, options, rows,
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), output, out);
}

}  // namespace vantrel
