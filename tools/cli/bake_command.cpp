// `vantrel bake`: a scene's texture on a model, rendered as `render` renders a mesh domain into a PNG, and
// the model with that texture embedded written as one binary glTF file, which any 3-D viewer opens.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <span>
#include <string>

#include "quib/text.h"
#include "scene/mesh_model.h"
#include "scene/scene.h"
#include "tools/cli/commands.h"
#include "tools/cli/progress.h"
#include "tools/cli/stop_signals.h"
#include "tools/image/glb_file.h"
#include "tools/image/output_file.h"
#include "tools/image/png_encoder.h"
#include "tools/render/render_core.h"

namespace vantrel {
namespace {

using quib::Error;

/// The file to write: a .glb, not the scene itself.
std::filesystem::path GlbPath(const BakeOptions& options) {
    const std::filesystem::path output = options.output;
    std::string extension = output.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != ".glb")
        throw Error(Error::Kind::BadInput, "expected an output file name ending in .glb")
            .WithSource(output.string());
    std::error_code error;
    if (std::filesystem::equivalent(output, options.scene, error)) {
        throw Error(Error::Kind::BadInput, "expected an output file other than the scene file")
            .WithSource(output.string());
    }
    return output;
}

/// The model --mesh names: a built-in shape by its name, else a file of the working folder.
std::shared_ptr<const MeshModel> ModelNamed(const std::string& mesh, MeshReference& reference) {
    if (std::find(builtInShapes.begin(), builtInShapes.end(), mesh) != builtInShapes.end()) {
        reference.shape = mesh;
        return std::make_shared<const MeshModel>(BuiltInShape(mesh));
    }
    // A file that cannot be looked at is the loader's to say why.
    std::error_code error;
    if (!std::filesystem::exists(mesh, error) && !error) {
        std::string shapes;
        for (const std::string_view shape : builtInShapes)
            shapes += (shapes.empty() ? "" : ", ") + std::string(shape);
        throw Error::Expected(Error::Code::NotFound, {},
                              "a model file (OBJ, glTF or GLB) or a shape: " + shapes, quib::Quote(mesh),
                              "there is no such file")
            .WithSource("--mesh");
    }
    reference.file = mesh;
    return LoadMeshModel(reference, "");
}

/// The mesh domain to bake on: the scene's, with the model --mesh names in place of its own when given.
SampleDomain MeshDomain(const Scene& scene, const JsonDocument& document, const BakeOptions& options) {
    SampleDomain domain = scene.Domain();
    if (options.mesh.empty()) {
        if (domain.kind == SampleDomain::Kind::Mesh) return domain;
        Error error = Error::Expected(
            Error::Code::BadValue, "/domain",
            R"(a mesh domain ({"kind": "mesh", "file": FILE} or {"kind": "mesh", "shape": SHAPE}) to bake on)",
            domain.kind == SampleDomain::Kind::Plane ? "a plane" : "the sphere", "or give --mesh FILE|SHAPE");
        if (const std::optional<TextPlace> place = document.Locate("/domain"))
            error.AtText(place->line, place->column);
        throw std::move(error.WithSource(options.scene));
    }
    if (domain.kind != SampleDomain::Kind::Mesh) {
        domain = SampleDomain();
        domain.kind = SampleDomain::Kind::Mesh;
    }
    domain.meshReference = {};
    domain.mesh = ModelNamed(options.mesh, domain.meshReference);
    return domain;
}

/// How the command line names each field of the texture's render.
RequestFields BakeFields() {
    return {"--type",      "--size",  "--size",   "--region",  "--window", "--samples",
            "the texture", "--depth", "--linear", "--threads", "--part",   "--tile"};
}

/// The PNG of `plan`'s render, as `render` writes it to a file.
std::string TexturePng(const ImagePlan& plan, const Scene& scene) {
    std::optional<Progress> progress;
    RenderRequest request = plan.Render(scene.Output());
    ShowProgress(request, progress);
    std::string png;
    PngEncoder encoder(plan.width, plan.height, ChannelsFor(plan.type), plan.depth, plan.levels,
                       BandsInFlight(plan.threads),
                       [&](std::span<const std::uint8_t> piece) { png.append(piece.begin(), piece.end()); });
    Render(request, encoder);
    return png;
}

/// "OUT: MODEL, T triangles, with a WxH texture, S samples in T s, R samples/s on N threads".
void Report(const ImagePlan& plan, const MeshModel& model, double seconds,
            const std::filesystem::path& output, std::ostream& out) {
    const double taken = static_cast<double>(plan.width) * plan.height * plan.samples * plan.samples;
    char report[240];
    std::snprintf(
        report, sizeof report,
        ", %zu triangles, with a %dx%d texture, %.0f samples in %.3f s, %.0f samples/s on %d thread%s\n",
        model.triangles.size(), plan.width, plan.height, taken, seconds, taken / seconds, plan.threads,
        plan.threads == 1 ? "" : "s");
    out << quib::Printable(output.string()) << ": " << quib::Printable(model.name) << report;
}

}  // namespace

void RunBake(const Scene::ModulePointer& module, const BakeOptions& options, std::ostream& out) {
    const std::filesystem::path output = GlbPath(options);
    const JsonDocument document = ReadSceneFile(options.scene);
    const Scene scene = Scene::FromDocument(document, options.scene, module, options.edits);
    const SampleDomain domain = MeshDomain(scene, document, options);
    WarnOfSkippedTriangles(domain);
    ImageRequest asked = options.image;
    asked.format = ImageFormat::Png;
    ImagePlan plan = PlanImage(asked, scene, options.scene, BakeFields());
    plan.domain = domain;

    // Before the work, so that an unwritable folder or a target that cannot be replaced fails at once.
    GuardedFile file(output);
    const auto start = std::chrono::steady_clock::now();
    try {
        const std::string glb = GlbOf(*domain.mesh, TexturePng(plan, scene));
        OutputBytes bytes(file.Path(), "the binary glTF file");
        bytes.Put(std::span(reinterpret_cast<const std::uint8_t*>(glb.data()), glb.size()));
        bytes.Close();
    } catch (const std::bad_alloc&) {
        throw Error(Error::Kind::Failure, "not enough memory for the model with a " +
                                              std::to_string(plan.width) + "x" + std::to_string(plan.height) +
                                              " texture")
            .WithSource(output.string());
    } catch (const Error& error) {
        if (!error.Source().empty()) throw;
        throw Error(error.GetKind(), error.Detail()).WithSource(output.string());
    }
    file.Commit();
    Report(plan, *domain.mesh,
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), output, out);
}

}  // namespace vantrel
