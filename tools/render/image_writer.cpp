#include "tools/render/image_writer.h"

#include "tools/image/exr_encoder.h"
#include "tools/image/output_file.h"
#include "tools/image/png_encoder.h"

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
        ExrEncoder exr(plan.width, plan.height, channels, slots, bytes);
        if (rows(exr)) exr.Finish();
        bytes.Close();
    }
}

}  // namespace vantrel
