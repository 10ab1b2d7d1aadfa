#pragma once
/// @file
/// An image file written as its rows come: the one place that picks the encoder for a plan's format,
/// for `vantrel render` and the Python package's saved images alike, so that both write the same bytes.

#include <filesystem>
#include <functional>

#include "tools/image/image_file.h"
#include "tools/render/image_request.h"

namespace vantrel {

/// What puts an image's rows into a sink: a render, or pixels already made. False when it stopped
/// before the last row (a render cancelled).
using ImageRows = std::function<bool(BandSink&)>;

/// Writes the image of `plan`, a PNG's or an OpenEXR image's of scan lines, to `path` (a pending
/// file's), encoding its rows as `rows` gives them, with as many bands in flight as the plan's threads
/// use. An image stopped early is left unfinished, for the caller to drop. Throws quib::Error (Failure)
/// when the file cannot be written.
void WriteImageFile(const ImagePlan& plan, const std::filesystem::path& path, const ImageRows& rows);

/// The same for a plan of tiles (`plan.tile` > 0): the function the module vantrel-tiles exports as
/// `VantrelWriteTiled`. It holds OpenEXR's own tiled writer, whose libraries would slow the start of
/// every command that writes no tiles (vantrel writes every other file itself).
using TiledWriter = void(const ImagePlan& plan, const std::filesystem::path& path, const ImageRows& rows);

}  // namespace vantrel
