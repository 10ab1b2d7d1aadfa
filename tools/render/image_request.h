#pragma once
/// @file
/// What a render is, however it is asked for. The command line's options, the Python package's
/// arguments and a preview's JSON each translate their own syntax into an `ImageRequest`; `PlanImage`
/// fills in what the request leaves unsaid from the scene and checks the whole, with one set of defaults
/// and one set of messages. Only the names of the fields differ between those doors (`RequestFields`),
/// so that a message names what its user wrote:
///
/// ```
/// ImageRequest request;  // 512 pixels wide, the scene's type and samples, an image in memory
/// request.width = 1024;
/// const ImagePlan plan = PlanImage(request, scene, pythonFields);
/// Render(plan.Render(scene.Output()), sink);
/// ```

#include <array>
#include <atomic>
#include <optional>
#include <string>

#include "quib/stored_form.h"
#include "scene/output_type.h"
#include "scene/sample_domain.h"
#include "scene/scene.h"
#include "tools/image/image_file.h"
#include "tools/render/render_core.h"

namespace vantrel {

/// The sides of an OpenEXR file's tiles a request may ask for: powers of two, as texture caches expect.
/// Smaller tiles spend more of the file on their offsets and headers; a row of larger ones holds more
/// rows in memory while it is rendered.
inline constexpr int smallestTile = 16;
inline constexpr int largestTile = 4096;

/// The width of an image when none is asked for.
inline constexpr int defaultWidth = 512;
/// The most render threads a request may ask for.
inline constexpr int largestThreads = 1024;

/// A render as asked for, before the scene fills in the rest. Numbers are held as given (64 bits), so
/// that one out of range is refused by `PlanImage` in the same words whichever door it came through.
struct ImageRequest {
    std::optional<OutputType> type;  ///< nothing: the scene's "output_type", else color
    long long width = defaultWidth;
    std::optional<long long> height;  ///< nothing: from the width and the domain's shape
    /// The plane's rectangle from (A, B) to (C, D), or the sphere's window from longitude A to C and
    /// latitude B to D in degrees, in place of the scene's domain.
    std::optional<std::array<double, 4>> region;
    /// The pixels X to X + W - 1 and rows Y to Y + H - 1 of the whole image `width` x `height`, each the
    /// same pixel as the whole render's, in place of the whole.
    std::optional<std::array<long long, 4>> window;
    std::optional<long long> samples;   ///< sub-samples along a pixel's side; nothing: the scene's, 1 for int
    std::optional<ImageFormat> format;  ///< the file's; nothing: pixels kept in memory
    std::optional<long long> depth;     ///< a PNG's bits a channel, 8 or 16; nothing: 8
    bool linear = false;                ///< a PNG's levels the values as they are, gamma 1
    std::optional<long long> threads;   ///< nothing: one for each core
    std::optional<long long> parts;     ///< a render in N parts; nothing: the whole image
    std::optional<long long> tile;      ///< an OpenEXR file's square tiles, mip-mapped; nothing: scan lines
};

/// How a door names each field of a request in its messages ("--size 600x0", "width", "request:
/// \"width\""), and `format` the file or argument that named the format.
struct RequestFields {
    std::string type;
    std::string width;
    std::string height;
    std::string region;
    std::string window;
    std::string samples;
    std::string format;
    std::string depth;
    std::string linear;
    std::string threads;
    std::string parts;
    std::string tile;
};

/// The fields as a JSON request's members: "request: \"width\"", ...
RequestFields JsonRequestFields();

/// What else bounds an image beyond its format: a server's previews are smaller than any file.
struct ImageBounds {
    long long side;    ///< of either side, in pixels
    long long pixels;  ///< of the whole image
};

/// A request with every value filled in and checked.
struct ImagePlan {
    OutputType type;
    int width;
    int height;
    SampleDomain domain;  ///< the scene's, or the request's region of it
    int samples;
    std::optional<ImageFormat> format;
    int depth;  ///< a PNG's bits a channel
    PngLevels levels;
    int threads;
    /// The whole image that this one (`width` x `height`) is a window of; nothing: the image is whole.
    std::optional<PixelGrid> window;
    int tile = 0;  ///< the side of an OpenEXR file's tiles; 0: scan lines

    /// The render of `node` this plan describes, for the render core.
    RenderRequest Render(Function& node, const std::atomic<bool>* cancel = nullptr) const {
        return {node, domain, width, height, type, threads, samples, cancel, {}, window};
    }
    /// The whole image's pixel grid, and where this image lies in it.
    PixelGrid Grid() const { return window.value_or(PixelGrid{width, height}); }
};

/// The plan of `request` for `scene`, read from the file (or named) `sceneSource`: the defaults taken,
/// and every value checked against the others, the format's limits and `bounds`. Throws quib::Error
/// (BadInput) naming the field by `fields`, or the scene's member at its pointer when the scene's own
/// value is at fault. Prints nothing.
ImagePlan PlanImage(const ImageRequest& request, const Scene& scene, const std::string& sceneSource,
                    const RequestFields& fields, const std::optional<ImageBounds>& bounds = {});

/// What of `plan` makes the image's pixels and bytes, in one form whichever door asked (not the
/// threads): {"size": [W, H], "type", "channels", "samples", "domain": {"kind"[, "min", "max"]},
/// "image": "png", "exr" or "memory", "depth" (32 for OpenEXR's floats)[, "levels": a PNG's][, "grid":
/// {"size": the whole image's [W, H], "at": the window's [X, Y] in it}]}. Not the
/// tiles of an OpenEXR file, which no render in parts takes.
quib::Json CanonicalForm(const ImagePlan& plan);

/// The plan of an image file whose `CanonicalForm` is `form` (a part file's header keeps one), read
/// back through the same checks as any request, with one thread. Throws quib::Error (BadInput) whose
/// source is the JSON pointer of the member at fault, under `at`, the form's own pointer.
ImagePlan PlanOfCanonicalForm(const quib::Json& form, const std::string& at);

/// A PNG's bits a channel as `request` asks (8 when it does not); refuses a depth or linear levels
/// asked of an OpenEXR image, which always holds linear 32-bit floats, and a format this build does
/// not write. `PlanImage` checks the same; this is for an image that is written, not rendered.
int CheckedDepth(const ImageRequest& request, const RequestFields& fields);

/// The words and numbers a request is made of, for a page that offers them: {"outputTypes": [{"name",
/// "channels", "image"}...], "formats", "depths", "defaults": {"type", "width", "samples", "depth"},
/// "limits": {"samples", "threads"}}.
quib::Json RequestVocabulary();

}  // namespace vantrel
