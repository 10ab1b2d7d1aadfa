#pragma once
/// @file
/// The values of vantrel's options, which CLI11 takes as text and which are read here, so that a bad
/// one is refused in vantrel's own words, "--size: expected ..., not "..."", the value quoted as an
/// excerpt; and CLI11's own messages made as safe to print.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "scene/output_type.h"
#include "scene/scene_edits.h"
#include "tools/cli/commands.h"

namespace vantrel {

/// The type --type names; nothing when it is not given (the scene's own type is then taken).
std::optional<OutputType> ReadType(const std::string& text);

/// A whole number from `low` to `high` given to `option` (as "--threads"); `what` says what it is,
/// after the range, in the message that refuses another.
int ReadWhole(const std::string& option, const std::string& text, int low, int high, const std::string& what);

/// The values of render's options as given.
struct RenderTexts {
    std::string type;  ///< an output type's name; empty: the scene's
    std::string size;  ///< "WxH", or "W" (the height then follows the domain's shape)
    std::string threads;
    std::string depth;
    std::string samples;
    std::string region;  ///< "A,B,C,D", four finite numbers
    std::string window;  ///< "X,Y,W,H", four whole numbers
    std::string part;    ///< "K/N", a part K of N (1 <= K <= N)
    std::string tile;    ///< an OpenEXR file's side of a tile
};

/// Reads each of `texts` whose option `render` was given (empty too) into `options`: their syntax
/// only, as the render checks their values against the scene and each other.
void ReadRenderOptions(const CLI::App& render, const RenderTexts& texts, RenderOptions& options);

/// Reads bake's --size N (a square texture of N x N), --samples and --threads, each when `bake` was given
/// it, into `options`.
void ReadBakeOptions(const CLI::App& bake, const RenderTexts& texts, BakeOptions& options);

/// Reads each --set ID.PARAM=VALUE and --node ID (`nodeGiven` when the option was) into `edits`. The
/// id of a setting is what comes before the last dot ahead of the first `=`, so an id may hold dots and
/// a value anything.
void ReadEdits(bool nodeGiven, const std::string& node, const std::vector<std::string>& settings,
               SceneEdits& edits);

/// The longest file name vantrel takes, in bytes: the longest path Linux opens. Messages show a file's
/// name whole, so that it can be found; one longer names no file, and is refused as an excerpt.
inline constexpr std::size_t largestFileName = 4096;

/// Throws quib::Error (BadInput) when `name`, a file's, is longer than `largestFileName`.
void CheckFileName(const std::string& name);

/// The longest --time-limit of `serve`, in seconds: a day.
inline constexpr double largestTimeLimit = 86400.0;

/// Reads --time-limit SECONDS: a number from 0.1 to `largestTimeLimit`, not a not-a-number, an
/// infinity or anything beyond, which would stop every preview at once or never.
std::chrono::milliseconds ReadTimeLimit(const std::string& text);

/// A message of CLI11's about the command line `arguments` (as given, without the program), with each
/// argument it repeats, or the value after an option's `=`, as its excerpt: CLI11 repeats them whole.
std::string ExcerptArguments(std::string message, const std::vector<std::string>& arguments);

/// What vantrel says of `error`, which CLI11 found in the command line `arguments` of `app`: a missing
/// or mistyped command names the commands there are; any other says what CLI11 says, as an excerpt.
std::string CommandLineMessage(const CLI::App& app, const CLI::Error& error,
                               const std::vector<std::string>& arguments);

}  // namespace vantrel
