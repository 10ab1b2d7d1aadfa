#pragma once
/// @file
/// Scenes: a small graph of a module's nodes read from a scene file, brought up to date and ready to be
/// evaluated, with the domain its samples are taken from.
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
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "host/function.h"
#include "host/values.h"
#include "quib/module_loader.h"

namespace vantrel {

/// The format tag every scene file carries.
inline constexpr const char* sceneFormat = "vantrel-scene/1";

/// The most links a chain from a node to its farthest source may follow. Evaluation follows links by
/// recursion, a few stack frames a link, so a deeper chain could overflow the stack of whichever thread
/// evaluates it; a thousand links take a few hundred kilobytes even under AddressSanitizer, within the
/// smallest stacks (1 MB) a host thread is likely to have.
inline constexpr std::size_t maxLinkDepth = 1000;

/// The most node evaluations one sample of a node may take: itself and, for each of its links, a sample
/// of the node it reads, counted once for every chain of links that reaches it. Links that fan out and
/// meet again double the count with each step: forty nodes that each read the one before through two
/// parameters would take 2^41 evaluations, hours, a sample. A hundred thousand take a few milliseconds.
/// What a node does in its own evaluation ("Iterations" of the leapfrog fractal) is not counted.
inline constexpr std::size_t maxSampleEvaluations = 100000;

/// A scene that cannot be used. what() reads "file: where: what was expected", where `where` is a JSON
/// path such as `nodes[2].params.Subdivision`, or "line 3, column 14" for malformed JSON.
class SceneError : public std::runtime_error {
public:
    /// What `where` names: a place in the scene's JSON, or something else (a line and column, the
    /// file as a whole, an edit given on the command line).
    enum class Place { JsonPath, Other };

    SceneError(const std::string& file, const std::string& where, const std::string& expected,
               Place place = Place::JsonPath);

    /// The JSON path of the value the error is about, so that an editor can show it there; empty when
    /// the error names no value (`where` is then not a path).
    const std::string& Path() const { return path; }

private:
    std::string path;
};

/// The set of sample positions an image covers.
struct SampleDomain {
    enum class Kind {
        Plane,  ///< the rectangle `min` .. `max` of the xy-plane, at z = 0
        Sphere  ///< unit directions, as an equirectangular map
    };

    Kind kind = Kind::Plane;
    Vec2d min{0.0, 0.0};
    Vec2d max{1.0, 1.0};
    /// Sphere only: when set, the window of longitudes `min.x` .. `max.x` and latitudes `min.y` ..
    /// `max.y`, in degrees, in place of the whole sphere; when not, `min` and `max` are not used.
    bool sphereWindow = false;

    /// The sample position at the image point (u, v), where u runs from 0 at the left edge to 1 at the
    /// right and v from 0 at the top to 1 at the bottom.
    /// Plane: x = min.x + u (max.x - min.x), y = max.y - v (max.y - min.y), z = 0.
    /// Sphere: longitude lambda = (2u - 1) pi, from -180 degrees at the left to +180 at the right (the x
    /// axis in the middle); latitude phi = (1/2 - v) pi, from the north pole (+z) at the top to the south
    /// pole at the bottom; the position is (cos phi cos lambda, cos phi sin lambda, sin phi). A window
    /// of the sphere maps u and v onto its longitudes and latitudes as the plane maps them onto x and y.
    Vec3d Position(double u, double v) const;

    /// The height of an image `width` pixels wide whose pixels cover squares of the domain (twice as
    /// wide as high for the sphere, a degree a side for a window of it): a whole number of at least 1, which
    /// may be far beyond any image's size (about 5.12e302 for a plane 1e-300 wide and 1 high at 512), at most
    /// the largest double.
    double HeightFor(int width) const;
};

/// Changes to a scene file for one run, made to its JSON before the scene is checked, so that they are
/// checked as the file is and fail with the same messages.
struct SceneEdits {
    /// A parameter's value in place of the file's.
    struct Setting {
        std::string node;   ///< the node's id
        std::string param;  ///< the parameter's name
        std::string value;  ///< JSON text, written as in a scene file: `3`, `[1, 0, 0]`, `{"link": "a"}`
        std::string said;   ///< how the user asked for it, for messages: `--set a.In=3`
    };
    std::string output;  ///< the id of the node to evaluate in place of the file's "output"; empty: that
    std::vector<Setting> settings;
    /// How the user asked for the changes (`--node a --set a.In=3`): messages about the scene name the
    /// file "with" them, as any of them may be the cause.
    std::string said;
};

/// A graph of nodes created through a module's descriptors and filled from their stored forms.
///
/// Loading checks the whole scene before it creates a node: well-formed JSON with each key once in its
/// object and nesting no deeper than a scene uses, the format tag, unique ids, known types, an output
/// naming a node, links naming a node (or "@position"), no cycle of links, no chain of more than
/// `maxLinkDepth` links, no sample of more than `maxSampleEvaluations` node evaluations, and a plane
/// domain with min below and left of max. Then it creates
/// every node, loads its stored form (`Function::Load`, which checks parameters, curves and gradients)
/// and calls `Update` on every node, sources before the nodes that read them.
///
/// The scene owns its nodes and destroys them with itself; the module must outlive it. Evaluating the
/// output node is safe from any number of threads at once.
class Scene {
public:
    /// Reads the scene file at `path`. Throws SceneError naming `path` when the file cannot be read or
    /// the scene is bad, and std::runtime_error "not enough memory to read PATH" when memory runs out.
    static Scene FromFile(const std::string& path, const quib::Module& module, const SceneEdits& edits = {});
    /// Reads a scene from `text`; errors name `fileName`.
    static Scene FromText(const std::string& text, const std::string& fileName, const quib::Module& module);

    Scene(Scene&&) noexcept;
    Scene& operator=(Scene&&) noexcept;
    ~Scene();

    /// The node named by the scene's `output`.
    Function& Output() const { return *output; }
    const SampleDomain& Domain() const { return domain; }
    /// The node with this id, or null.
    Function* Node(const std::string& id) const;

private:
    Scene() = default;
    /// The scene of the parsed `root`, which is read once and not kept.
    static Scene FromJson(const nlohmann::json& root, const std::string& fileName,
                          const quib::Module& module);

    std::vector<std::unique_ptr<Function>> nodes;  ///< in the order of the file
    std::map<std::string, std::size_t> indexOf;    ///< node id to its index in `nodes`
    Function* output = nullptr;
    SampleDomain domain;
};

}  // namespace vantrel
