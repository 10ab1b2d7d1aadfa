#include "tools/serve/model_requests.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "quib/error.h"
#include "quib/text.h"
#include "tools/image/glb_file.h"
#include "tools/serve/preview_protocol.h"

namespace vantrel {

using quib::Error;

void CheckModelFile(const MeshReference& reference) {
    if (reference.file.empty()) return;
    const std::string file = ModelFileIn(".", reference.file).string();
    // The folders on the way and the file itself, each as it is, links not followed.
    for (std::size_t end = file.find('/', 2);; end = file.find('/', end + 1)) {
        const std::string step = file.substr(0, end);
        const bool last = end == std::string::npos;
        struct stat status {};
        if (::lstat(step.c_str(), &status) != 0) {
            const bool missing = errno == ENOENT;
            throw std::move(Error(missing ? Error::Kind::NotFound : Error::Kind::Failure,
                                  missing ? "there is no such file in the scene's folder"
                                          : std::string("cannot read the file: ") + std::strerror(errno))
                                .WithSource(reference.file));
        }
        if (!(last ? S_ISREG(status.st_mode) : S_ISDIR(status.st_mode))) {
            ServeError refusal(ServeKind::Refused,
                               "expected a model file in the scene's folder, not a link, "
                               "a folder or another kind of file");
            refusal.WithSource(reference.file);
            throw refusal;
        }
        if (last) return;
    }
}

quib::Json SceneOverModel(const quib::Json& scene, const MeshReference& reference,
                          const SampleDomain& domain) {
    CheckModelFile(reference);
    quib::Json mesh = {{"kind", "mesh"}};
    if (reference.file.empty()) mesh["shape"] = reference.shape;
    if (!reference.file.empty()) mesh["file"] = reference.file;
    if (reference.uvSet != 0) mesh["uv"] = reference.uvSet;
    if (domain.kind == SampleDomain::Kind::Mesh) mesh["padding"] = domain.padding;
    quib::Json over = scene;
    over["domain"] = std::move(mesh);
    return over;
}

std::string ModelGlb(const RequestBody& body) {
    const std::optional<MeshReference> reference = body.Model();
    if (!reference) {
        throw Error::Expected(Error::Code::Missing, {}, "a model, {\"shape\": ...} or {\"file\": ...}",
                              "null")
            .WithSource("request: \"model\"");
    }
    CheckModelFile(*reference);
    std::string glb = GlbOf(*LoadMeshModel(*reference, ""));
    if (glb.size() > preview::largestFrame) {
        throw Error(Error::Kind::TooLarge, "the model's glTF file would be " +
                                               std::to_string(glb.size() >> 20) +
                                               " MiB; the 3-D view takes at most " +
                                               std::to_string(preview::largestFrame >> 20) + " MiB")
            .WithSource(reference->file);
    }
    return glb;
}

}  // namespace vantrel
