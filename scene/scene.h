#pragma once
/// @file
/// Scenes: a small graph of the loaded modules' nodes built from a scene file's JSON, brought up to date and
/// ready to be evaluated, with the domain its samples are taken from.
///
///     { "format": "vantrel-scene/1",
///       "nodes": [ { "id": "lattice", "type": "Hexagonal lattice 3D(1)",
///                    "params": { "Position": { "link": "@position" } } },
///                  { "id": "paint", "type": "Vector to color",
///                    "params": { "In": { "link": "lattice" } } } ],
///       "output": "paint",
///       "domain": { "kind": "sphere" } }
///
/// Each node is its stored form (quib/stored_form.h) plus an `id` and a `type`: the descriptor's type
/// name or its class id as a hexadecimal string ("0x92512342"). The full format is in
/// docs/scene-format.md.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/function.h"
#include "quib/stored_form.h"
#include "scene/json_reader.h"
#include "scene/module_set.h"
#include "scene/output_type.h"
#include "scene/sample_domain.h"
#include "scene/scene_edits.h"

namespace vantrel {

/// A graph of nodes created through the loaded modules' descriptors and filled from their stored forms.
///
/// Building checks the whole scene before it creates a node: the format tag, unique ids, known types, an
/// output naming a node, links naming a node (or "@position"), no cycle of links, no chain of more than
/// `maxLinkDepth` links, no sample of more than `maxSampleEvaluations` node evaluations, and a plane
/// domain with min below and left of max. Then it creates every node, loads its stored form
/// (`Function::Load`, which checks parameters, curves and gradients) and calls `Update` on every node,
/// sources before the nodes that read them.
///
/// The scene owns its nodes and destroys them with itself, and keeps the modules that made them loaded
/// while it lives. Evaluating any of its nodes is safe from any number of threads at once.
class Scene {
public:
    /// The modules whose node types a scene may use.
    using ModulePointer = std::shared_ptr<const ModuleSet>;

    /// The scene `root` describes, the files it names (a mesh domain's model) read relative to `folder`
    /// (empty: the working folder). Throws quib::Error (BadInput, at a pointer into `root`; naming no
    /// source, which the caller knows, unless the fault is in a file the scene names) or std::bad_alloc.
    static Scene Build(const quib::Json& root, ModulePointer module, const std::string& folder = {});
    /// The same, with errors naming `name` and, where the document has its text, the line and column
    /// of the value at fault, and the files it names read relative to `name`'s folder; memory running
    /// out is an error of kind Failure. With `edits`, the scene
    /// is a copy of the document changed by them, and errors name `name` "with" the edits.
    static Scene FromDocument(const JsonDocument& document, const std::string& name, ModulePointer module,
                              const SceneEdits& edits = {});
    /// The scene file at `path`, changed by `edits` for this run: errors name the file, "with" the edits
    /// when there are any.
    static Scene FromFile(const std::string& path, ModulePointer module, const SceneEdits& edits = {});

    Scene(Scene&&) noexcept;
    Scene& operator=(Scene&&) noexcept;
    ~Scene();

    /// The node named by the scene's `output`.
    Function& Output() const { return *output; }
    const SampleDomain& Domain() const { return domain; }
    /// The type the scene says it is seen in ("output_type"), which commands take when they are given
    /// none; nothing when it names none.
    std::optional<OutputType> NamedType() const { return namedType; }
    /// The sub-samples along each side of a pixel the scene says it is rendered with ("samples"),
    /// which `render` takes when it is given none; nothing when it names none.
    std::optional<int> NamedSamples() const { return namedSamples; }
    /// The node with this id, or null.
    Function* Node(const std::string& id) const;
    const ModuleSet& Modules() const { return *module; }

private:
    Scene() = default;

    ModulePointer module;                          ///< first in, last out: they outlive the nodes
    std::vector<std::unique_ptr<Function>> nodes;  ///< in the order of the file
    std::map<std::string, std::size_t> indexOf;    ///< node id to its index in `nodes`
    Function* output = nullptr;
    SampleDomain domain;
    std::optional<OutputType> namedType;
    std::optional<int> namedSamples;
};

/// The text of the scene file at `path`, read as JSON. Throws quib::Error naming the file when it
/// cannot be read or is not JSON as a scene holds it.
JsonDocument ReadSceneFile(const std::string& path);

/// The bytes of the file at `path`. Throws quib::Error naming the file when it cannot be read or holds
/// more than `maxBytes`, said of `what` ("a scene file").
std::string ReadWholeFile(const std::string& path, std::uintmax_t maxBytes, const std::string& what);

}  // namespace vantrel
