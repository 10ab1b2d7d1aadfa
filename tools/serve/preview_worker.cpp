// The process a preview runs in. A node cannot be told to stop in the middle of a sample (one sample of
// the fractal with two billion iterations takes over a minute), so the server renders each preview in a
// process of its own, which it ends with a signal when the preview is no longer wanted.

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <span>
#include <thread>
#include <type_traits>

#include "quib/error.h"
#include "tools/image/png_encoder.h"
#include "tools/render/image_request.h"
#include "tools/render/mesh_raster.h"
#include "tools/render/render_core.h"
#include "tools/render/value_text.h"
#include "tools/serve/model_requests.h"
#include "tools/serve/preview_protocol.h"
#include "tools/serve/scene_requests.h"
#include "tools/serve/serve.h"
#include "tools/serve/serve_request.h"

namespace vantrel {
namespace preview {

namespace {

/// Reads or writes all of `size` bytes, as the pipe takes them; false when it ends first.
template <class Transfer>
bool Whole(Transfer transfer, int descriptor, char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t done = transfer(descriptor, bytes, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

}  // namespace

bool WriteFrame(int descriptor, std::uint8_t tag, std::string_view bytes) {
    auto header = Header(tag, bytes.size());
    const auto write = [](int fd, char* data, std::size_t size) { return ::write(fd, data, size); };
    return Whole(write, descriptor, reinterpret_cast<char*>(header.data()), header.size()) &&
           Whole(write, descriptor, const_cast<char*>(bytes.data()), bytes.size());
}

bool ReadFrame(int descriptor, std::uint8_t& tag, std::string& bytes) {
    std::array<std::uint8_t, headerBytes> header{};
    if (!Whole(::read, descriptor, reinterpret_cast<char*>(header.data()), header.size())) return false;
    const std::size_t size = SizeOf(header);
    if (size > largestFrame) return false;
    tag = header[0];
    bytes.resize(size);
    return Whole(::read, descriptor, bytes.data(), size);
}

}  // namespace preview

namespace {

using quib::Error;

/// The image a preview request asks for, in its JSON: as a render of `vantrel render` is asked for,
/// a PNG.
ImageRequest ImageRequestOf(const RequestBody& body) {
    ImageRequest request;
    if (body.Has("type")) request.type = body.Type();
    if (body.Has("width")) request.width = body.Integer("width");
    if (body.Has("height")) request.height = body.Integer("height");
    if (body.Has("samples")) request.samples = body.Integer("samples");
    request.region = body.Region();
    request.window = body.Window();
    request.format = ImageFormat::Png;
    return request;
}

/// The PNG of the preview the body asks for: what `vantrel render` writes for the same scene, size,
/// type, node, region and samples: a colour sRGB-encoded, as a display shows it, and other types as data.
/// With a "model", the texture of that model, square, in place of the scene's domain: what `vantrel
/// render` makes of the scene with that model as its mesh domain. A texture has no region.
std::string RenderPreview(SceneCache& scenes, const RequestBody& body) {
    std::shared_ptr<const Scene> scene = scenes.SceneOf(body);
    const std::optional<MeshReference> model = body.Model();
    ImageRequest request = ImageRequestOf(body);
    if (model) {
        if (request.region || request.window) {
            throw Error(Error::Kind::BadInput, "a texture of a model has no region or window; expected null")
                .WithSource(request.region ? "request: \"region\"" : "request: \"window\"");
        }
        request.height = request.width;
        scene = scenes.Built(SceneOverModel(body.Scene(), *model, scene->Domain()));
    }
    Function& node = NodeOf(*scene, body, true);
    const ImagePlan plan =
        PlanImage(request, *scene, "scene", JsonRequestFields(), ImageBounds{maxServedSide, maxServedPixels});
    std::string png;
    PngEncoder encoder(plan.width, plan.height, ChannelsFor(plan.type), plan.depth, plan.levels,
                       BandsInFlight(plan.threads),
                       [&](std::span<const std::uint8_t> piece) { png.append(piece.begin(), piece.end()); });
    Render(plan.Render(node), encoder);
    return png;
}

/// The sample position at the centre of the pixel (x, y) of a `width` x `height` image of `domain`: on a
/// model, where its texture's raster puts it (a padding pixel's at its source pixel's centre); nothing
/// past the padding, where the texture is transparent.
std::optional<Vec3d> PixelPosition(const SampleDomain& domain, int width, int height, int x, int y) {
    if (domain.kind != SampleDomain::Kind::Mesh)
        return domain.Position((x + 0.5) / width, (y + 0.5) / height);
    const PixelGrid grid{width, height};
    const MeshRaster raster(*domain.mesh, grid, width, domain.padding, y, y + 1);
    const std::unique_ptr<MeshRaster::Rows> rows = raster.NewRows();
    std::vector<MeshRaster::Source> sources(static_cast<std::size_t>(width));
    raster.SourcesOfRow(y, *rows, sources.data());
    const MeshRaster::Source& source = sources[static_cast<std::size_t>(x)];
    if (source.triangle < 0) return std::nullopt;
    return raster.Position(source, grid.U(source.x, 0.5), grid.V(source.y, 0.5));
}

/// The value at the centre of a pixel of the preview, as `vantrel eval` prints it there; a pixel of a
/// model's texture that no point of the model reaches has none.
quib::Json ValueAt(SceneCache& scenes, const RequestBody& body) {
    const std::shared_ptr<const Scene> scene = scenes.SceneOf(body);
    Function& node = NodeOf(*scene, body, true);
    const OutputType type = body.Type();
    const int width = body.Int("width", 1, maxServedSide);
    const int height = body.Int("height", 1, maxServedSide);
    const int x = body.Int("x", 0, width - 1);
    const int y = body.Int("y", 0, height - 1);
    const std::optional<Vec3d> position = PixelPosition(DomainOf(*scene, body), width, height, x, y);
    if (!position) return {{"position", nullptr}, {"text", nullptr}};
    FunContext context;
    context.position = *position;
    const std::string text = VisitOutputType(type, [&]<class T>(std::type_identity<T>) {
        T value{};
        node.Eval(&value, &context);
        return ValueText(value);
    });
    const Vec3d& p = context.position;
    return {{"position", {p.x, p.y, p.z}}, {"text", text}};
}

}  // namespace

int RunPreviewWorker(const Scene::ModulePointer& module) {
    // A server that ends, however it ends, takes its previews with it: one may be in a sample that
    // takes minutes. And the server's end of the pipe may go: a write then fails, and the process ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1) return 1;  // the server ended before the line above
    std::signal(SIGPIPE, SIG_IGN);
    // The scene of the preview and the same over the 3-D view's model.
    SceneCache scenes(module, 4);
    if (!preview::WriteFrame(STDOUT_FILENO, preview::ready, {})) return 1;
    std::uint8_t tag = 0;
    std::string request;
    while (preview::ReadFrame(STDIN_FILENO, tag, request)) {
        std::uint8_t answerTag = preview::failed;
        std::string answer;
        try {
            const RequestBody body(std::move(request));
            if (tag == preview::renderRequest) {
                answer = RenderPreview(scenes, body);
                answerTag = preview::png;
            } else if (tag == preview::valueRequest) {
                answer = ValueAt(scenes, body).dump();
                answerTag = preview::value;
            } else if (tag == preview::modelRequest) {
                answer = ModelGlb(body);
                answerTag = preview::glb;
            } else {
                throw Error(Error::Kind::Failure, "the preview's process got a request it does not know");
            }
        } catch (const Error& error) {
            answer = ErrorReply(error).dump();
        } catch (const std::bad_alloc&) {
            answer = ErrorReply(Error(Error::Kind::Failure, "not enough memory for the preview")).dump();
        }
        if (!preview::WriteFrame(STDOUT_FILENO, answerTag, answer)) return 1;
        request.clear();
    }
    return 0;
}

}  // namespace vantrel
