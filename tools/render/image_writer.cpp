#include "tools/render/image_writer.h"

#include "tools/image/exr_encoder.h"
#include "tools/image/output_file.h"
#include "tools/image/png_encoder.h"
#if VANTREL_OPENEXR
#include "tools/image/tiled_exr_encoder.h"
#endif

namespace vantrel {

void WriteImageFile(const ImagePlan& plan, const std::filesystem::path& path, const ImageRows& rows) {
    const int channels = ChannelsFor(plan.type);
    const int slots = BandsInFlight(plan.threads);
    if (plan.format == ImageFormat::Png) {
        OutputBytes bytes(path, "the PNG");
        PngEncoder png(plan.width, plan.height, channels, plan.depth, plan.levels, slots,
                       [&](std::span<const std::uint8_t> piece) { bytes.Put(piece); });
        rows(png);
        bytes.Close();
    } else {
        OutputBytes bytes(path, "the OpenEXR image");
        const auto write = [&](auto&& exr) {
            if (rows(exr)) exr.Finish();
        };
        if (plan.tile == 0) {
            write(ExrEncoder(plan.width, plan.height, channels, slots, bytes));
        } else {
#if VANTREL_OPENEXR  // a plan of tiles is an OpenEXR file's, which a build without OpenEXR refuses
            write(TiledExrEncoder(plan.width, plan.height, channels, plan.tile, slots, bytes));
#endif
        }
        bytes.Close();
    }
}

}  // namespace vantrel
