#pragma once
/// @file
/// OpenEXR images of bands that a caller fills, from a module beside the library (vantrel-exr.so), for
/// the Python package, which finds its writer there. vantrel writes OpenEXR images with the library's
/// own encoder (tools/image/exr_encoder.h), as this module does.

#include <filesystem>
#include <functional>

#include "tools/render/render_core.h"

namespace vantrel {

/// Writes an OpenEXR image of `width` x `height` pixels and `channels` channels to `path`, from the
/// bands that `fill` hands on to the encoder it is given, which holds `BandsInFlight(threads)` bands:
/// `Render` into it, or `EncodeImage` (tools/render/sample_arrays.h) of an image in memory. Returns
/// false when `fill` does (a cancelled render), true once the file is complete and durable; throws
/// quib::Error (Failure) saying why the file could not be written. The module exports it as
/// `VantrelWriteExr`.
using ExrWriteFunction = bool(int width, int height, int channels, int threads,
                              const std::function<bool(BandSink&)>& fill, const std::filesystem::path& path);

}  // namespace vantrel
