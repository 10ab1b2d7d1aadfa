#pragma once
/// @file
/// `vantrel render` to an OpenEXR image, from a module of its own beside vantrel (vantrel-exr.so),
/// loaded only for an OpenEXR output: OpenEXR's libraries took 1.9 ms of every other command's start.

#include <filesystem>
#include <functional>

#include "tools/render/render_core.h"

namespace vantrel {

/// Renders `request` into an OpenEXR image of `channels` channels (1 Y, 3 RGB, 4 RGBA) written to
/// `path` in blocks of 16 rows compressed with ZIP, on a pool of OpenEXR's of `request.threads`
/// threads. Returns true once the file is complete and durable, false when the render was cancelled;
/// throws what `Render` throws, and quib::Error (Failure) saying why the file could not be written. The
/// module exports it as `VantrelRenderExr`.
using ExrRenderFunction = bool(const RenderRequest& request, int channels, const std::filesystem::path& path);

/// The same for bands that `fill` hands on to the encoder it is given, of `width` x `height` pixels and
/// `channels` channels, holding `BandsInFlight(threads)` bands: `Render` into it, or `EncodeImage`
/// (tools/render/sample_arrays.h) of an image in memory. Returns false when `fill` does (a cancelled
/// render). The module exports it as `VantrelWriteExr`.
using ExrWriteFunction = bool(int width, int height, int channels, int threads,
                              const std::function<bool(BandSink&)>& fill, const std::filesystem::path& path);

}  // namespace vantrel
