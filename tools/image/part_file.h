#pragma once
/// @file
/// A render in parts: part K of N is the K-th of N bands of the image's rows, rendered on its own
/// (another process, another machine) into a part file, and the parts joined into the image file. A
/// joined PNG is byte for byte the file the whole render writes, and a joined OpenEXR image pixel for
/// pixel (in fact byte for byte too: its blocks are compressed alike).
///
/// ```
/// RenderPart({plan.Render(node), plan, sceneJson, versions, k, n},
///            [&](std::span<const std::uint8_t> bytes) { partFile.Put(bytes); });
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
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "quib/stored_form.h"
#include "tools/image/image_file.h"
#include "tools/image/output_file.h"
#include "tools/render/image_request.h"
#include "tools/render/render_core.h"

namespace vantrel {

/// The first row of part `part` of `parts` of an image `height` rows high, and the row after its last:
/// floor((K - 1) H / N) to floor(K H / N), so that the parts' sizes differ by one row at most.
std::pair<int, int> PartRows(int height, int part, int parts);

/// What to render of a part, and what makes the whole render what it is.
struct PartRequest {
    RenderRequest render;  ///< the plan's render of a node; only the part's rows are sampled
    ImagePlan plan;        ///< the whole image, a file's: its format, depth and levels among the rest
    /// The scene as built (its JSON after any edits) and the modules' versions: with the plan's
    /// canonical form and this program's version, they name the render, by a digest that leaves out
    /// what the editor keeps beside the scene (`PixelScene`).
    quib::Json scene;
    std::vector<float> moduleVersions;
    int part;   ///< K, from 1
    int parts;  ///< N, from 1 to the image's height
};

/// The top-level members of a scene that change no pixel: the editor's "layout" and "description",
/// and the "output_type" and "samples" a render takes when it is given none, which the render's own
/// type and samples stand for. A scene's JSON without them.
quib::Json PixelScene(const quib::Json& scene);

/// Where a part file's bytes go, in order, as they are made.
using PartOutput = std::function<void(std::span<const std::uint8_t>)>;

/// Renders part `request.part` of `request.parts` into a part file, its bytes given to `put` as its
/// rows are done: the header first, the checksum last. False when the render is cancelled (what was
/// put is then no part file). Throws what `Render` and `put` throw.
bool RenderPart(const PartRequest& request, const PartOutput& put);

/// What a part file's header says: which render (as JSON, equal for every part of one render: the
/// digest of what makes its pixels, and the request spelt out), its plan as read from that, and which
/// part of it.
struct PartHeader {
    quib::Json render;
    ImagePlan plan{};  ///< of the whole image, a file's
    int part = 0;
    int parts = 0;
    int firstRow = 0;
    int endRow = 0;
};

/// Reads and checks a whole part file, `name` in messages: its signature, its checksum (so that a file
/// cut short or damaged is refused) and its header. Throws quib::Error (BadInput) naming `name`.
PartHeader ReadPartHeader(std::span<const std::uint8_t> bytes, const std::string& name);

/// Throws quib::Error (BadInput) naming `name` when the part `part` is not of the render of `first`
/// (named `firstName`), or not of as many parts: the message says what differs.
void CheckSameRender(const PartHeader& part, const std::string& name, const PartHeader& first,
                     const std::string& firstName);

/// The parts of one render as they come, in order of K: each checked to be of the render of the first
/// and the next in turn. The one wording of the faults of a set of parts that is not one whole render,
/// for `vantrel join` and the Python package's joiner alike.
class PartSequence {
public:
    /// Takes the part `header`, named `name`. Throws quib::Error (BadInput) naming it when it is of
    /// another render than the first or of another count of parts, or not the next (a part again, or
    /// one missing before it).
    void Take(const PartHeader& header, const std::string& name);
    /// Throws quib::Error (BadInput) when a part is missing after the last taken, or none was taken.
    void Finish() const;

    /// The parts taken.
    int Count() const { return static_cast<int>(names.size()); }
    /// The first part's header, once one is taken.
    const PartHeader& First() const { return first; }

private:
    PartHeader first;
    std::vector<std::string> names;  ///< of the parts taken, by K - 1
};

/// The fault of parts of an image of `parts`'s format joined into `output`, a file of another format.
quib::Error ImageOfAnotherFormat(ImageFormat parts, const std::string& output);

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
