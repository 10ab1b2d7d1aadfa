#pragma once
/// @file
/// A render in parts: part K of N is the K-th of N bands of the image's rows, rendered on its own
/// (another process, another machine) into a part file, and the parts joined into the image file. A
/// joined PNG is byte for byte the file the whole render writes, and a joined OpenEXR image pixel for
/// pixel (in fact byte for byte too: its blocks are compressed alike).
///
/// ```
/// std::optional<std::string> part =
///     RenderPart({render, ImageFormat::Png, 8, PngLevels::Srgb, sceneJson, versions, k, n});
/// ...
/// PartJoiner joiner(file);            // an OutputBytes, behind a PendingFile
/// for (each part, in order of K) joiner.Add(bytes, name);
/// joiner.Finish();
/// ```
///
/// A part holds the encoder's own units (a PNG's bands, an OpenEXR image's blocks of 16 rows) that lie
/// wholly in its rows encoded as the whole render encodes them, and the rows of a unit cut by its edges
/// as rows, which the joiner encodes once it has the whole unit. The format is in docs/vantrel.md.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "quib/stored_form.h"
#include "tools/image/image_file.h"
#include "tools/image/output_file.h"
#include "tools/render/render_core.h"

namespace vantrel {

/// The first row of part `part` of `parts` of an image `height` rows high, and the row after its last:
/// floor((K - 1) H / N) to floor(K H / N), so that the parts' sizes differ by one row at most.
std::pair<int, int> PartRows(int height, int part, int parts);

/// What to render of a part, and what makes the whole render what it is.
struct PartRequest {
    RenderRequest render;  ///< the whole image's size; only the part's rows are sampled
    ImageFormat format;
    int depth;         ///< a PNG's bits a channel, 8 or 16; ignored for OpenEXR
    PngLevels levels;  ///< what a PNG's levels stand for; ignored for OpenEXR
    /// The scene as built (its JSON after any edits) and the modules' versions: with the request's size,
    /// type, samples, domain, format, depth and levels, and this program's version, they name the
    /// render.
    quib::Json scene;
    std::vector<float> moduleVersions;
    int part;   ///< K, from 1
    int parts;  ///< N, from 1 to the image's height
};

/// Renders part `request.part` of `request.parts` into the bytes of a part file, or nothing when the
/// render is cancelled. Throws what `Render` throws.
std::optional<std::string> RenderPart(const PartRequest& request);

/// What a part file's header says: which render (as JSON, equal for every part of one render) and
/// which part of it.
struct PartHeader {
    quib::Json render;
    int part = 0;
    int parts = 0;
    int firstRow = 0;
    int endRow = 0;
    ImageFormat format = ImageFormat::Png;
    PngLevels levels = PngLevels::Linear;
};

/// Reads and checks a whole part file, `name` in messages: its signature, its checksum (so that a file
/// cut short or damaged is refused) and its header. Throws quib::Error (BadInput) naming `name`.
PartHeader ReadPartHeader(std::span<const std::uint8_t> bytes, const std::string& name);

/// Throws quib::Error (BadInput) naming `name` when the part `part` is not of the render of `first`
/// (named `firstName`), or not of as many parts: the message says what differs.
void CheckSameRender(const PartHeader& part, const std::string& name, const PartHeader& first,
                     const std::string& firstName);

/// Joins the parts of one render into its image, written to `file` as the parts come: one part at a
/// time, in order of K, each checked to be of the render of the first (the same scene, size, type,
/// samples, domain, format, depth, levels, module and program) and the next in turn.
class PartJoiner {
public:
    explicit PartJoiner(OutputBytes& file);
    ~PartJoiner();
    PartJoiner(const PartJoiner&) = delete;
    PartJoiner& operator=(const PartJoiner&) = delete;

    /// Adds the next part, the whole file's bytes, named `name` in messages. Throws quib::Error
    /// (BadInput) naming it when it is not a sound part file, not of the same render, or not the next
    /// part (a part again, or one missing before it).
    void Add(std::span<const std::uint8_t> bytes, const std::string& name);
    /// Completes the image once every part is added; throws quib::Error (BadInput) saying which part
    /// is missing otherwise. The caller then closes the file.
    void Finish();

    /// The format of the parts added, once one is.
    std::optional<ImageFormat> Format() const;

private:
    struct State;
    OutputBytes& file;
    std::unique_ptr<State> state;
};

}  // namespace vantrel
