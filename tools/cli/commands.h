#pragma once
/// @file
/// The commands of `vantrel`, each run once the command line has been read.

#include <array>
#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "quib/error.h"
#include "scene/output_type.h"
#include "scene/scene.h"
#include "scene/scene_format.h"
#include "tools/render/image_request.h"

namespace vantrel {

/// The type a command takes for `scene`: the one given with --type, else the one the scene names, else
/// color.
inline OutputType TypeFor(const std::optional<OutputType>& given, const Scene& scene) {
    return given ? *given : scene.NamedType().value_or(OutputType::Color);
}

/// Exit statuses.
enum ExitStatus {
    exitSuccess = 0,
    exitFailure = 1,   ///< a failure while working: an image that could not be written
    exitBadInput = 2,  ///< bad usage or bad input: options, module, scene, sample lines
};

/// The exit status of a command that ends with `error`.
ExitStatus ExitStatusOf(const quib::Error& error);

/// The longest line `eval` reads, in bytes (without its line end): a sample is three numbers, and even
/// with blanks and a comment a line of more is no sample, but a file that is not one, or an endless stream.
inline constexpr std::size_t largestSampleLine = std::size_t{1} << 20;

/// The stack of each of vantrel's threads: room for the deepest chain of links a scene may hold, in
/// every build (a thousand links take about 0.4 MB in the release build, more than 1 MB under
/// AddressSanitizer).
inline constexpr std::size_t threadStack = std::size_t{16} << 20;

/// Bad usage of an option: `option` (as "--size") and the detail of what is wrong.
inline quib::Error UsageError(std::string option, std::string expected, std::string found = {}) {
    return std::move(
        quib::Error::Expected(quib::Error::Code::BadValue, {}, std::move(expected), std::move(found))
            .WithSource(std::move(option)));
}

/// Throws quib::Error (Failure) saying why writing to standard output failed, when `out` has failed.
/// The caller clears errno before the writes it checks, so that the reason is theirs.
void CheckWritten(const std::ostream& out);

#ifndef _WIN32
/// The function `symbol` of the module `file` beside the executable, loaded now: the OpenEXR writer
/// and the server are modules of their own, as their libraries would slow every command's start. The
/// module stays loaded. Throws quib::Error (Failure) saying why when it cannot be loaded or lacks the
/// function.
void* LoadBeside(const char* file, const char* symbol);
#endif

/// Prints each module's version and node types, as text or as JSON.
void RunList(const ModuleSet& modules, bool json, std::ostream& out);

struct EvalOptions {
    std::string scene;
    SceneEdits edits;                ///< --node and --set
    std::optional<OutputType> type;  ///< --type; nothing: the scene's "output_type", else color
    int threads = 0;                 ///< 0: one for each core
};

/// Evaluates the scene's output node at each sample position read from `in` ("x y z" a line), writing
/// one line a sample to `out`, on threads that take the positions waiting in `in` in chunks. Throws
/// quib::Error at the first line that is bad or longer than `largestSampleLine` (BadInput), or that cannot be
/// read (Failure), naming its number.
void RunEval(const Scene::ModulePointer& module, const EvalOptions& options, std::istream& in,
             std::ostream& out);

struct RenderOptions {
    std::string scene;
    std::string output;  ///< empty: the scene's name with ".png", in the current folder
    SceneEdits edits;    ///< --node and --set
    /// --size, --type, --region, --samples, --depth, --linear, --threads, --tile and N of --part, as given:
    /// the format follows from the output's name
    ImageRequest image;
    int part = 0;  ///< --part K/N: K, from 1; 0 for the whole image
};

/// Renders the scene into an image file and reports the time taken on `out`. Throws quib::Error. When
/// one of the `stopSignals` arrives it removes what it had written and ends the program by that signal
/// at once, without waiting for the samples being taken.
void RunRender(const Scene::ModulePointer& module, const RenderOptions& options, std::ostream& out);

/// Tells the user, on standard error, of the triangles without area that the model of a mesh domain
/// left out: nothing for other domains, or when none were.
void WarnOfSkippedTriangles(const SampleDomain& domain);

/// The side of the square texture `bake` renders when none is asked for, and the largest it takes:
/// the largest texture graphics processors commonly sample.
inline constexpr int defaultTextureSide = 1024;
inline constexpr int largestTextureSide = 16384;

struct BakeOptions {
    std::string scene;
    std::string output;  ///< the .glb file
    /// --mesh: a model file (relative to the working folder) or one of `builtInShapes`; empty: the
    /// scene's mesh domain
    std::string mesh;
    SceneEdits edits;  ///< --node and --set
    /// --size (the texture's side), --samples and --threads, as given
    ImageRequest image = [] {
        ImageRequest square;
        square.width = defaultTextureSide;
        square.height = defaultTextureSide;
        return square;
    }();
};

/// Renders the texture of the scene on its mesh domain's model, or on the model `options.mesh` names, as
/// `RunRender` renders a mesh domain into a PNG, and writes the model with the texture embedded as a
/// binary glTF file; reports it on `out`. Throws quib::Error; stops as `RunRender` does on a stop signal.
void RunBake(const Scene::ModulePointer& module, const BakeOptions& options, std::ostream& out);

struct JoinOptions {
    std::vector<std::string> parts;  ///< the part files, in any order
    std::string output;
};

/// Joins the part files of one render into its image and reports it on `out`. Throws quib::Error; stops
/// as `RunRender` does on a stop signal.
void RunJoin(const JoinOptions& options, std::ostream& out);

}  // namespace vantrel
