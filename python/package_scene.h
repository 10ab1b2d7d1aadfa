#pragma once
/// @file
/// A scene of the Python package: built by the scene layer, evaluated and rendered by the render
/// library, its images written by its encoders, as `vantrel` does each.

#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <variant>

#include "python/arguments.h"
#include "quib/stored_form.h"
#include "scene/json_reader.h"
#include "scene/scene.h"
#include "scene/scene_edits.h"
#include "tools/image/image_file.h"

namespace vantrel::python {

/// The array eval stores its values into: float64 or float32 for reals, int32 for int.
using EvalOut = std::variant<py::array_t<double, py::array::c_style>, py::array_t<float, py::array::c_style>,
                             py::array_t<int, py::array::c_style>>;

/// A scene of the package: the document it was read from, the settings made since, and the scene they
/// build. A setting that does not build leaves it as it was. Evaluation runs on the scene as it was
/// when the call began, so that a `set` on another Python thread meanwhile does not pull it away.
class PackageScene {
public:
    PackageScene(Scene::ModulePointer module, std::shared_ptr<const JsonDocument> document, std::string name);

    /// The scene in the file `path` (its bytes, as os.fsencode gives them).
    static PackageScene Load(Scene::ModulePointer module, const std::string& path);
    /// `text` is the JSON of a dict: it is read as a file is, but has no lines a user wrote, so its
    /// errors name none; they name the scene `name`.
    static PackageScene Parse(Scene::ModulePointer module, std::string text, const Text& name);

    /// The parameter named by `key`, "ID.PARAM", takes the value of the JSON text `value`, as `--set
    /// ID.PARAM=VALUE` gives it, in place of an earlier setting of the same parameter. The id is what
    /// comes before the last dot, so an id may hold dots.
    void Set(const Text& key, const std::string& value);

    /// The scene's JSON with the settings made.
    quib::Json Described() const;
    std::string Json() const { return Described().dump(); }
    /// The scene's "output_type", or color.
    std::string OutputTypeOf() const;
    /// The scene's "samples", or 1.
    int SamplesOf() const;
    py::dict Domain() const;

    /// The values of the node `id` (none: the output) at the positions `points` (N x 3), into `out`
    /// (none: a new array) and returned.
    py::object Eval(const Pixels& points, const Text& type, const std::optional<Text>& id,
                    const std::optional<Whole>& threads, std::optional<EvalOut> out) const;

    /// The image the arguments describe, as an array of height x width x channels reals, and the name
    /// of its output type.
    std::pair<Pixels, std::string> Render(const ImageArguments& arguments) const;
    /// Where the render the arguments describe samples: height x width x samples^2 x 3 positions, each
    /// pixel's sub-samples in the order the render sums them.
    Pixels SamplePositions(const ImageArguments& arguments) const;

    /// Writes `pixels` (as `Render` gives them, of the arguments' type), or else the image the arguments
    /// describe, to the PNG or OpenEXR file `path` (its bytes) as vantrel render writes it.
    void Save(const std::string& path, const std::optional<Pixels>& pixels, const ImageArguments& arguments,
              const std::optional<Whole>& depth, bool linear) const;

    /// The height, width, channels and output type of the image `Render` makes of the arguments, checked
    /// as it checks them, rendering nothing.
    std::tuple<int, int, int, std::string> Planned(const ImageArguments& arguments) const;

    /// The width, height and channels of the image the arguments describe, checked as `RenderPart`
    /// checks them (for `parts` None, all but the parts).
    std::tuple<int, int, int> CheckPart(const ImageArguments& arguments, const Text& format,
                                        const std::optional<Whole>& depth, bool linear,
                                        const std::optional<Whole>& parts) const;

    /// Part `part` of `parts` of the image the arguments describe, in a file of `format` ("png", "exr")
    /// of `depth` bits a channel (none for 8, or for OpenEXR), its levels `linear` or not as
    /// `save_image`'s are: the bytes of the part file `vantrel render --part K/N [--linear]` writes,
    /// named by the scene's JSON with the settings made and the module's version.
    py::bytes RenderPart(const ImageArguments& arguments, const Text& format,
                         const std::optional<Whole>& depth, bool linear, const Whole& part,
                         const Whole& parts) const;

private:
    struct Prepared;

    Prepared Prepare(const ImageArguments& arguments, const ImageRequest& request,
                     const std::string& formatSource) const;
    Prepared PreparePart(const ImageArguments& arguments, const Text& format,
                         const std::optional<Whole>& depth, bool linear,
                         const std::optional<Whole>& parts) const;
    ImagePlan PixelsPlan(const Pixels& pixels, const ImageRequest& request, const std::string& path) const;
    Function& NodeOf(const Scene& built, const std::optional<Text>& id) const;

    Scene::ModulePointer module;
    std::shared_ptr<const JsonDocument> document;
    std::string name;
    SceneEdits edits;
    std::shared_ptr<const Scene> scene;
};

/// An image array of the type `type` as an 8-bit PNG in memory, as `save_image` writes it.
py::bytes EncodePng(const Pixels& pixels, const Text& type);

}  // namespace vantrel::python
