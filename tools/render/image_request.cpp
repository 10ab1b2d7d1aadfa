#include "tools/render/image_request.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
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

/// What a scene gives a request that leaves it out, and the file (or name) it was read from.
struct SceneDefaults {
    std::optional<OutputType> type;
    std::optional<int> samples;
    SampleDomain domain;
    std::string source;
};

OutputType TypeOf(const ImageRequest& request, const SceneDefaults& scene, const RequestFields& fields) {
    const OutputType type = request.type.value_or(scene.type.value_or(OutputType::Color));
    if (type != OutputType::String) return type;
    Error error(Error::Code::WrongType, "an image needs a numeric output type, not string");
    if (request.type) throw std::move(error.WithSource(fields.type));
    throw std::move(error.WithSource(scene.source).AtPointer("/output_type"));
}

/// The scene's own sub-samples are what its picture was seen with; an int image takes one, as a mean
/// of integers is no integer.
int SamplesOf(const ImageRequest& request, OutputType type, const SceneDefaults& scene,
              const RequestFields& fields) {
    if (!request.samples) return type == OutputType::Int ? 1 : scene.samples.value_or(1);
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

/// The side of an OpenEXR file's tiles as `request` asks, 0 for scan lines: tiles are for a whole
/// OpenEXR file, not a PNG, an image in memory or a render in parts, whose join writes scan lines.
int TileOf(const ImageRequest& request, const RequestFields& fields) {
    if (!request.tile) return 0;
    if (request.format != ImageFormat::Exr) {
        throw Refused(fields.tile, "an OpenEXR image to tile",
                      request.format ? fields.format : "an image in memory", Error::Code::BadValue);
    }
    if (request.parts) {
        throw Refused(fields.tile, "a render of the whole image (the parts join into scan lines)",
                      fields.parts, Error::Code::BadValue);
    }
    const long long side = *request.tile;
    if (side < smallestTile || side > largestTile ||
        !std::has_single_bit(static_cast<unsigned long long>(side))) {
        throw Refused(fields.tile,
                      "a power of two from " + std::to_string(smallestTile) + " to " +
                          std::to_string(largestTile) + ", the side of a square tile in pixels",
                      std::to_string(side), Error::Code::BadValue);
    }
    return static_cast<int>(side);
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
    return {member("type"),    member("width"),  member("height"), member("region"),
            member("samples"), member("format"), member("depth"),  member("linear"),
            member("threads"), member("parts"),  member("tile")};
}

namespace {

ImagePlan Plan(const ImageRequest& request, const SceneDefaults& scene, const RequestFields& fields,
               const std::optional<ImageBounds>& bounds) {
    ImagePlan plan{.type = TypeOf(request, scene, fields),
                   .width = 0,
                   .height = 0,
                   .domain = scene.domain,
                   .samples = 0,
                   .format = request.format,
                   .depth = CheckedDepth(request, fields),
                   .levels = PngLevels::Data,
                   .threads = request.threads ? WholeIn(*request.threads, fields.threads, 1, largestThreads,
                                                        "the render threads")
                                              : DefaultThreads()};
    plan.samples = SamplesOf(request, plan.type, scene, fields);
    plan.tile = TileOf(request, fields);
    plan.levels = LevelsFor(plan.type, request.linear);
    if (request.region) {
        try {
            plan.domain = plan.domain.Part(*request.region);
        } catch (Error& error) {
            throw std::move(error.WithSource(fields.region));
        }
    }
    std::tie(plan.width, plan.height) = SizeOf(request, plan, scene.source, fields, bounds);
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

}  // namespace

ImagePlan PlanImage(const ImageRequest& request, const Scene& scene, const std::string& sceneSource,
                    const RequestFields& fields, const std::optional<ImageBounds>& bounds) {
    return Plan(request, {scene.NamedType(), scene.NamedSamples(), scene.Domain(), sceneSource}, fields,
                bounds);
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

namespace {

/// The canonical form's member `key` at `at`, as its reader refuses it.
Error Unlike(const std::string& at, const std::string& key, std::string expected, const quib::Json* found,
             Error::Code code = Error::Code::WrongType) {
    return Refused(quib::MemberPointer(at, key), std::move(expected), found ? quib::JsonExcerpt(*found) : "",
                   found ? code : Error::Code::Missing);
}

/// A whole number of 64 bits, as a request holds it.
bool IsWhole(const quib::Json& value) {
    return value.is_number_integer() &&
           (!value.is_number_unsigned() || value.get<std::uint64_t>() <= LLONG_MAX);
}

/// The numbers of a pair [A, B] of `form`'s member `key`, if it is one.
std::optional<std::array<quib::Json, 2>> Pair(const quib::Json& form, const char* key) {
    const auto found = form.find(key);
    if (found == form.end() || !found->is_array() || found->size() != 2) return std::nullopt;
    return std::array<quib::Json, 2>{(*found)[0], (*found)[1]};
}

/// The request a canonical form spells out, and its domain.
std::pair<ImageRequest, SampleDomain> RequestOfForm(const quib::Json& form, const std::string& at) {
    const auto member = [&](const char* key) { return form.contains(key) ? &form[key] : nullptr; };
    const auto whole = [&](const char* key, const char* expected) {
        if (!member(key) || !IsWhole(*member(key))) throw Unlike(at, key, expected, member(key));
        return member(key)->get<long long>();
    };
    ImageRequest request;
    const auto size = Pair(form, "size");
    if (!size || !IsWhole((*size)[0]) || !IsWhole((*size)[1]))
        throw Unlike(at, "size", "[width, height] in whole pixels", member("size"));
    request.width = (*size)[0].get<long long>();
    request.height = (*size)[1].get<long long>();
    const quib::Json* type = member("type");
    request.type = type && type->is_string() ? OutputTypeNamed(type->get<std::string>()) : std::nullopt;
    if (!request.type) throw Unlike(at, "type", "the name of an output type", type, Error::Code::BadValue);
    request.samples = whole("samples", "the sub-samples along a pixel's side");
    const quib::Json* image = member("image");
    if (!image || (*image != "png" && *image != "exr"))
        throw Unlike(at, "image", "\"png\" or \"exr\"", image, Error::Code::BadValue);
    request.format = *image == "png" ? ImageFormat::Png : ImageFormat::Exr;
    const long long depth = whole("depth", "the bits a channel");
    if (request.format == ImageFormat::Png) request.depth = depth;
    const quib::Json* levels = member("levels");
    request.linear = levels && *levels == LevelsName(PngLevels::Linear);

    const std::string domainAt = quib::MemberPointer(at, "domain");
    const quib::Json* domain = member("domain");
    if (!domain || !domain->is_object() || !domain->contains("kind") ||
        ((*domain)["kind"] != "plane" && (*domain)["kind"] != "sphere"))
        throw Unlike(at, "domain", "an object with \"kind\": \"plane\" or \"sphere\"", domain);
    SampleDomain where;
    where.kind = (*domain)["kind"] == "plane" ? SampleDomain::Kind::Plane : SampleDomain::Kind::Sphere;
    const auto min = Pair(*domain, "min"), max = Pair(*domain, "max");
    if (!min || !max) return {request, where};  // the whole sphere, which no point bounds
    const std::array<quib::Json, 4> corners = {(*min)[0], (*min)[1], (*max)[0], (*max)[1]};
    if (!std::all_of(corners.begin(), corners.end(), [](const quib::Json& v) { return v.is_number(); }))
        throw Unlike(domainAt, "min", "two numbers for \"min\" and for \"max\"", &(*domain)["min"]);
    try {
        where = where.Part({corners[0].get<double>(), corners[1].get<double>(), corners[2].get<double>(),
                            corners[3].get<double>()});
    } catch (Error& error) {
        throw std::move(error.WithSource(domainAt));
    }
    return {request, where};
}

}  // namespace

ImagePlan PlanOfCanonicalForm(const quib::Json& form, const std::string& at) {
    if (!form.is_object()) throw Refused(at, "an object", quib::JsonExcerpt(form), Error::Code::WrongType);
    auto [request, domain] = RequestOfForm(form, at);
    request.threads = 1;
    const auto field = [&](const char* key) { return quib::MemberPointer(at, key); };
    const RequestFields fields = {field("type"),    field("size"),  field("size"),  field("domain"),
                                  field("samples"), field("image"), field("depth"), field("levels"),
                                  "threads",        "parts",        "tile"};
    const ImagePlan plan = Plan(request, {std::nullopt, std::nullopt, domain, at}, fields, std::nullopt);
    // What the reading left unread (the channels, the levels of a type, a member too many) must be what
    // the plan would say.
    const quib::Json again = CanonicalForm(plan);
    for (const auto& [key, value] : form.items()) {
        if (!again.contains(key)) throw Unlike(at, key, "no such member", &value, Error::Code::UnknownMember);
    }
    for (const auto& [key, value] : again.items()) {
        if (!form.contains(key) || form[key] != value)
            throw Unlike(at, key, quib::JsonExcerpt(value), form.contains(key) ? &form[key] : nullptr,
                         Error::Code::BadValue);
    }
    return plan;
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
