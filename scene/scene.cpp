#include "scene/scene.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>

#include "quib/error.h"
#include "quib/text.h"
#include "scene/scene_check.h"
#include "scene/scene_format.h"

namespace vantrel {

using quib::Error;
using quib::Json;

namespace {

/// What `build` returns; where memory runs out, the program is told in words, as a failure of the
/// program rather than of the scene.
template <class Build>
auto Building(const std::string& name, Build build) {
    try {
        return build();
    } catch (const std::bad_alloc&) {
        throw Error(Error::Kind::Failure, "not enough memory to read " + name);
    }
}

/// `error`, about the scene `name`, at the line and column of its value in `document`'s text.
Error Named(Error error, const std::string& name, const JsonDocument* document) {
    const bool ofTheScene = error.Source().empty();  // not of a file the scene names, as a model
    error.InSource(name);
    if (ofTheScene && document && error.Pointer() && error.Line() == 0) {
        if (const std::optional<TextPlace> place = document->Locate(*error.Pointer()))
            error.AtText(place->line, place->column);
    }
    return error;
}

/// The folder of the scene file `name`, against which the files it names are read.
std::string FolderOf(const std::string& name) {
    return std::filesystem::path(name).parent_path().string();
}

/// The scene `root` describes once `edits` are made to it. The values' places in the text may have
/// moved: errors name the edits instead.
Scene BuildEdited(Json& root, const std::string& name, Scene::ModulePointer module, const SceneEdits& edits) {
    edits.ApplyTo(root, name, *module);
    try {
        return Scene::Build(root, std::move(module), FolderOf(name));
    } catch (const Error& error) {
        throw Named(error, name + " (with " + edits.said + ")", nullptr);
    }
}

}  // namespace

Scene Scene::Build(const Json& root, ModulePointer module, const std::string& folder) {
    const CheckedScene checked = CheckScene(root, *module);
    const Json& nodes = root["nodes"];
    Scene scene;
    scene.module = std::move(module);
    scene.domain = checked.domain;
    if (scene.domain.kind == SampleDomain::Kind::Mesh)
        scene.domain.mesh = LoadMeshModel(scene.domain.meshReference, folder);
    scene.namedType = checked.outputType;
    scene.namedSamples = checked.samples;
    scene.indexOf = checked.indexOf;
    // Every node is created before any is loaded, so that a link may name a node later in the file.
    for (const quib::NodeType* type : checked.types) {
        std::unique_ptr<Function> function = type->Create();
        if (!function) {
            throw Error::Expected(Error::Code::BadModule,
                                  quib::ElementPointer("/nodes", scene.nodes.size()) + "/type",
                                  "a type whose descriptor creates a function node", {},
                                  "the descriptor of " + quib::Quote(type->typeName) + " in " +
                                      scene.module->ModuleOf(*type).Path() + " created none");
        }
        scene.nodes.push_back(std::move(function));
    }
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        QuibInputStream in(nodes[i]);  // Load checks the type too: it is this node's
        in.pointer = quib::ElementPointer("/nodes", i);
        in.ignoredKeys = {"id"};
        in.resolveLink = [&scene](const std::string& id) { return scene.Node(id); };
        scene.nodes[i]->Load(in);
        if (in.failure) {
            if (in.failure->GetKind() == Error::Kind::Failure) throw std::bad_alloc();
            throw std::move(*in.failure);
        }
    }
    FunContext context;
    for (std::size_t i : checked.updateOrder)
        scene.nodes[i]->Update(0, &context);
    scene.output = scene.nodes[checked.output].get();
    return scene;
}

Scene Scene::FromDocument(const JsonDocument& document, const std::string& name, ModulePointer module,
                          const SceneEdits& edits) {
    return Building(name, [&] {
        if (!edits.Empty()) {
            Json root = document.Value();
            return BuildEdited(root, name, std::move(module), edits);
        }
        try {
            return Build(document.Value(), std::move(module), FolderOf(name));
        } catch (const Error& error) {
            throw Named(error, name, &document);
        }
    });
}

Scene Scene::FromFile(const std::string& path, ModulePointer module, const SceneEdits& edits) {
    return Building(path, [&] {
        JsonDocument document = ReadSceneFile(path);
        if (edits.Empty()) return FromDocument(document, path, std::move(module));
        return BuildEdited(document.Value(), path, std::move(module), edits);  // the file's, not a copy
    });
}

Scene::Scene(Scene&&) noexcept = default;
Scene& Scene::operator=(Scene&&) noexcept = default;

Scene::~Scene() {
    nodes.clear();  // before the module that made them goes
}

Function* Scene::Node(const std::string& id) const {
    const auto found = indexOf.find(id);
    return found == indexOf.end() ? nullptr : nodes[found->second].get();
}

std::string ReadWholeFile(const std::string& path, std::uintmax_t maxBytes, const std::string& what) {
    auto fail = [&] {
        throw Error(Error::Kind::BadInput,
                    "cannot read the file: " + std::error_code(errno, std::generic_category()).message())
            .WithSource(path);
    };
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) fail();
    const auto tooLarge = [&] {
        throw Error::Expected(Error::Code::OutOfRange, {},
                              what + " of at most " + std::to_string(maxBytes) + " bytes (" +
                                  std::to_string(maxBytes >> 20) + " MiB)",
                              "a larger one")
            .WithSource(path);
    };
    std::string text;
    // Room for the whole file at once: growing by doubling would need half as much again.
    std::error_code sizeError;
    const std::uintmax_t size = std::filesystem::file_size(path, sizeError);  // fails but for a file
    if (!sizeError && size > maxBytes) tooLarge();
    if (!sizeError) text.reserve(static_cast<std::size_t>(size));
    char buffer[1 << 16];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get())) {
        if (text.size() + count > maxBytes) tooLarge();  // a device or a FIFO that goes on
        text.append(buffer, count);
    }
    if (std::ferror(file.get())) fail();
    return text;
}

JsonDocument ReadSceneFile(const std::string& path) {
    return Building(path, [&] {
        std::string text = ReadWholeFile(path, maxSceneFileBytes, "a scene file");
        try {
            return JsonDocument::Parse(std::move(text), sceneNesting);
        } catch (Error& error) {
            throw std::move(error.InSource(path));
        }
    });
}

}  // namespace vantrel
