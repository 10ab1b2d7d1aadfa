#include "tools/render/image_request.h"

#include <climits>
#include <cstdio>

#include "scene/scene_format.h"

namespace vantrel {
namespace {

using quib::Error;

/// A value of the request that is out of its bounds (or, by `code`, otherwise unusable).
Error Refused(const std::string& source, std::string expected, std::string found = {},
              Error::Code code = Error::Code::OutOfRange) {
    return std::move(Error::Expected(code, {}, std::move(expected), std::move(found)).WithSource(source));
}

/// `value` when it is from `low` to `high`; else refused in `source`, which expected `expected`.
int WholeIn(long long value, const std::string& source, long long low, long long high,
            const std::string& what) {
    if (value < low || value > high) {
        throw Refused(
            source,
            "a whole number from " + std::to_string(low) + " to " + std::to_string(high) + ", " + what,
            std::to_string(value));
    }
    return static_cast<int>(value);
}

/// "a PNG", "an OpenEXR image", "an image in memory": what the limits are of; and " of 3 channels"
/// for an OpenEXR image's width, which its channels bound.
std::string ImageName(const std::optional<ImageFormat>& format) {
    if (!format) return "an image in memory";
    return *format == ImageFormat::Png ? "a PNG" : "an OpenEXR image";
}

std::string OfChannels(const std::optional<ImageFormat>& format, int channels) {
    if (format != ImageFormat::Exr) return "";
    return " of " + std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

OutputType TypeOf(const ImageRequest& request, const Scene& scene, const std::string& sceneSource,
                  const RequestFields& fields) {
    const OutputType type = request.type.value_or(scene.NamedType().value_or(OutputType::Color));
    if (type != OutputType::String) return type;
    Error error(Error::Code::WrongType, "an image needs a numeric output type, not string");
    if (request.type) throw std::move(error.WithSource(fields.type));
    throw std::move(error.WithSource(sceneSource).AtPointer("/output_type"));
}

/// The scene's own sub-samples are what its picture was seen with; an int image takes one, as a mean
/// of integers is no integer.
int SamplesOf(const ImageRequest& request, OutputType type, const Scene& scene, const RequestFields& fields) {
    if (!request.samples) return type == OutputType::Int ? 1 : scene.NamedSamples().value_or(1);
    const int samples = WholeIn(*request.samples, fields.samples, 1, largestSamples,
                                "the sub-samples along each side of a pixel");
    if (type == OutputType::Int && samples > 1) {
        throw Error(Error::Kind::BadInput,
                    "a pixel's sub-samples are averaged, and a mean of integers is no "
                    "integer; " +
                        fields.samples + " is for the real-valued types, not int")
            .WithSource(fields.samples);
    }
    return samples;
}

}  // namespace

int CheckedDepth(const ImageRequest& request, const RequestFields& fields) {
    if (request.format == ImageFormat::Exr) {
        if (!VANTREL_OPENEXR) {
            throw Error(Error::Kind::BadInput, "this build of vantrel writes PNG only, not OpenEXR")
                .WithSource(fields.format);
        }
        const auto pngOnly = [&](const std::string& field, const char* holds) {
            return Error(Error::Kind::BadInput, std::string("an OpenEXR image always holds ") + holds + "; " +
                                                    field + " is for PNG, not " + fields.format)
                .WithSource(field);
        };
        if (request.depth) throw pngOnly(fields.depth, "32-bit floats");
        if (request.linear) throw pngOnly(fields.linear, "linear values");
    }
    if (request.depth && *request.depth != 8 && *request.depth != 16) {
        throw Refused(fields.depth, "8 or 16, the bits a channel of a PNG", std::to_string(*request.depth),
                      Error::Code::BadValue);
    }
    return static_cast<int>(request.depth.value_or(8));
}

namespace {

/// The image's width and height: each side within the format's limits and `bounds`, the height the
/// domain's shape gives when none is asked for.
std::pair<int, int> SizeOf(const ImageRequest& request, const ImagePlan& plan, const std::string& sceneSource,
                           const RequestFields& fields, const std::optional<ImageBounds>& bounds) {
    ImageLimits limits =
        plan.format ? LargestImage(*plan.format, ChannelsFor(plan.type)) : ImageLimits{INT_MAX, INT_MAX, ""};
    std::string name = ImageName(plan.format);
    std::string ofChannels = OfChannels(plan.format, ChannelsFor(plan.type));
    std::string why = *limits.why ? std::string(" (") + limits.why + ")" : "";
    if (bounds) {
        limits.width = static_cast<int>(std::min<long long>(limits.width, bounds->side));
        limits.height = static_cast<int>(std::min<long long>(limits.height, bounds->side));
        name = "a preview";
        ofChannels.clear();
        why.clear();
    }
    const auto side = [&](long long value, const std::string& field, int largest, const char* across,
                          const std::string& of) {
        if (value < 1) throw Refused(field, std::string("at least 1 pixel ") + across, std::to_string(value));
        if (value > largest) {
            throw Refused(field,
                          "at most " + std::to_string(largest) + " pixels " + across + " for " + of + why,
                          std::to_string(value));
        }
        return static_cast<int>(value);
    };
    const int width = side(request.width, fields.width, limits.width, "wide", name + ofChannels);
    if (request.height) return {width, side(*request.height, fields.height, limits.height, "high", name)};
    const double height = plan.domain.HeightFor(width);
    if (height > limits.height) {
        char figure[32];
        std::snprintf(figure, sizeof figure, height < 1e15 ? "%.0f" : "about %.3g", height);
        throw Error(Error::Kind::BadInput, "at a width of " + std::to_string(width) + " the image would be " +
                                               figure + " pixels high; expected at most " +
                                               std::to_string(limits.height) + " for " + name + " (or give " +
                                               fields.height + ")")
            .WithSource(sceneSource)
            .AtPointer("/domain");
    }
    return {width, static_cast<int>(height)};
}

}  // namespace

RequestFields JsonRequestFields() {
    const auto member = [](const char* name) { return "request: \"" + std::string(name) + "\""; };
    return {member("type"),   member("width"), member("height"), member("region"),  member("samples"),
            member("format"), member("depth"), member("linear"), member("threads"), member("parts")};
}

ImagePlan PlanImage(const ImageRequest& request, const Scene& scene, const std::string& sceneSource,
                    const RequestFields& fields, const std::optional<ImageBounds>& bounds) {
    ImagePlan plan{.type = TypeOf(request, scene, sceneSource, fields),
                   .width = 0,
                   .height = 0,
                   .domain = scene.Domain(),
                   .samples = 0,
                   .format = request.format,
                   .depth = CheckedDepth(request, fields),
                   .levels = PngLevels::Data,
                   .threads = request.threads ? WholeIn(*request.threads, fields.threads, 1, largestThreads,
                                                        "the render threads")
                                              : DefaultThreads()};
    plan.samples = SamplesOf(request, plan.type, scene, fields);
    plan.levels = LevelsFor(plan.type, request.linear);
    if (request.region) {
        try {
            plan.domain = plan.domain.Part(*request.region);
        } catch (Error& error) {
            throw std::move(error.WithSource(fields.region));
        }
    }
    std::tie(plan.width, plan.height) = SizeOf(request, plan, sceneSource, fields, bounds);
    if (bounds && static_cast<long long>(plan.width) * plan.height > bounds->pixels) {
        throw Refused(fields.width, "an image of at most " + std::to_string(bounds->pixels) + " pixels",
                      std::to_string(plan.width) + "x" + std::to_string(plan.height));
    }
    if (request.parts) {
        WholeIn(
            *request.parts, fields.parts, 1, plan.height,
            "the rows of the " + std::to_string(plan.width) + "x" + std::to_string(plan.height) + " image");
    }
    return plan;
}

quib::Json CanonicalForm(const ImagePlan& plan) {
    const SampleDomain& domain = plan.domain;
    quib::Json where = {{"kind", domain.kind == SampleDomain::Kind::Plane ? "plane" : "sphere"}};
    if (domain.kind == SampleDomain::Kind::Plane || domain.sphereWindow) {
        where["min"] = {domain.min.x, domain.min.y};
        where["max"] = {domain.max.x, domain.max.y};
    }
    const bool png = plan.format == ImageFormat::Png;
    quib::Json form = {
        {"size", {plan.width, plan.height}},  {"type", OutputTypeName(plan.type)},
        {"channels", ChannelsFor(plan.type)}, {"samples", plan.samples},
        {"domain", std::move(where)},         {"image", !plan.format ? "memory" : png ? "png" : "exr"},
        {"depth", png ? plan.depth : 32}};
    if (png) form["levels"] = LevelsName(plan.levels);
    return form;
}

quib::Json RequestVocabulary() {
    quib::Json types = quib::Json::array();
    for (const auto& [name, type] : outputTypeNames) {
        types.push_back(
            {{"name", name}, {"channels", ChannelsFor(type)}, {"image", type != OutputType::String}});
    }
    quib::Json formats = {"png"};
    if (VANTREL_OPENEXR) formats.push_back("exr");
    return {{"outputTypes", std::move(types)},
            {"formats", std::move(formats)},
            {"depths", {8, 16}},
            {"defaults", {{"type", "color"}, {"width", defaultWidth}, {"samples", 1}, {"depth", 8}}},
            {"limits", {{"samples", largestSamples}, {"threads", largestThreads}}}};
}

}  // namespace vantrel
