// The OpenEXR writer of the Python package, a module of its own (see tools/image/exr_file.h).

#include "tools/image/exr_file.h"

#include <type_traits>

#include "tools/image/exr_encoder.h"
#include "tools/image/output_file.h"

extern "C" bool VantrelWriteExr(int width, int height, int channels, int threads,
                                const std::function<bool(vantrel::BandSink&)>& fill,
                                const std::filesystem::path& path) {
    static_assert(std::is_same_v<decltype(VantrelWriteExr), vantrel::ExrWriteFunction>);
    vantrel::OutputBytes bytes(path, "the OpenEXR image");
    vantrel::ExrEncoder exr(width, height, channels, vantrel::BandsInFlight(threads), bytes);
    if (!fill(exr)) return false;
    exr.Finish();
    bytes.Close();
    return true;
}
