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

/// What bounds an image's sides: a format's limits or a preview's bounds, and how a message names them.
struct SideLimits {
    ImageLimits limits{INT_MAX, INT_MAX, ""};
    std::string name = "an image";
    std::string ofChannels;  ///< an OpenEXR image's width is bounded by its channels
    std::string why;

    /// `value`, when it is a side within these limits; `wide` says which side.
    int Side(long long value, const std::string& field, bool wide) const {
        const char* across = wide ? "wide" : "high";
        if (value < 1) throw Refused(field, std::string("at least 1 pixel ") + across, std::to_string(value));
        const int largest = wide ? limits.width : limits.height;
        if (value > largest) {
            throw Refused(field,
                          "at most " + std::to_string(largest) + " pixels " + across + " for " + name +
                              (wide ? ofChannels : "") + why,
                          std::to_string(value));
        }
        return static_cast<int>(value);
    }
};

SideLimits LimitsOf(const ImagePlan& plan, const std::optional<ImageBounds>& bounds) {
    if (bounds) {
        return {{static_cast<int>(std::min<long long>(INT_MAX, bounds->side)),
                 static_cast<int>(std::min<long long>(INT_MAX, bounds->side)), ""},
                "a preview",
                "",
                ""};
    }
    if (!plan.format) return {{INT_MAX, INT_MAX, ""}, ImageName(plan.format), "", ""};
    const ImageLimits limits = LargestImage(*plan.format, ChannelsFor(plan.type));
    return {limits, ImageName(plan.format), OfChannels(plan.format, ChannelsFor(plan.type)),
            std::string(" (") + limits.why + ")"};
}

/// The image's width and height within `limits`, the height the domain's shape gives when none is asked for.
std::pair<int, int> SizeOf(const ImageRequest& request, const ImagePlan& plan, const std::string& sceneSource,
                           const RequestFields& fields, const SideLimits& limits) {
    const int width = limits.Side(request.width, fields.width, true);
    if (request.height) return {width, limits.Side(*request.height, fields.height, false)};
    const double height = plan.domain.HeightFor(width);
    if (height > limits.limits.height) {
        char figure[32];
        std::snprintf(figure, sizeof figure, height < 1e15 ? "%.0f" : "about %.3g", height);
        throw Error(Error::Kind::BadInput, "at a width of " + std::to_string(width) + " the image would be " +
                                               figure + " pixels high; expected at most " +
                                               std::to_string(limits.limits.height) + " for " + limits.name +
                                               " (or give " + fields.height + ")")
            .WithSource(sceneSource)
            .AtPointer("/domain");
    }
    return {width, static_cast<int>(height)};
}

/// The window `asked` (X, Y, W, H) of the whole `width` x `height` image, its sides within `limits`;
/// nothing when it is the whole image.
std::optional<PixelGrid> WindowOf(const std::array<long long, 4>& asked, int width, int height,
                                  const RequestFields& fields, const SideLimits& limits) {
    const auto [x, y, w, h] = asked;
    if (x < 0 || y < 0 || w < 1 || h < 1 || x > width - w || y > height - h) {
        throw Refused(
            fields.window,
            "a window X,Y,W,H of the " + std::to_string(width) + "x" + std::to_string(height) +
                " image: X + W at most " + std::to_string(width) + " and Y + H at most " +
                std::to_string(height) + ", X and Y from 0, W and H from 1",
            std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," + std::to_string(h));
    }
    limits.Side(w, fields.window, true);
    limits.Side(h, fields.window, false);
    if (w == width && h == height) return std::nullopt;
    return PixelGrid{width, height, static_cast<int>(x), static_cast<int>(y)};
}

}  // namespace

RequestFields JsonRequestFields() {
    const auto member = [](const char* name) { return "request: \"" + std::string(name) + "\""; };
    return {member("type"),   member("width"),   member("height"), member("region"),
            member("window"), member("samples"), member("format"), member("depth"),
            member("linear"), member("threads"), member("parts"),  member("tile")};
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
                                              : DefaultThreads(),
                   .window = std::nullopt};
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
    // A window's own sides are what the format and the bounds limit; the whole image's, only its grid.
    const SideLimits limits = LimitsOf(plan, bounds);
    std::tie(plan.width, plan.height) =
        SizeOf(request, plan, scene.source, fields, request.window ? SideLimits{} : limits);
    if (request.window) {
        plan.window = WindowOf(*request.window, plan.width, plan.height, fields, limits);
        plan.width = static_cast<int>((*request.window)[2]);
        plan.height = static_cast<int>((*request.window)[3]);
    }
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
    quib::Json where = {{"kind", DomainKindName(domain.kind)}};
    if (domain.kind == SampleDomain::Kind::Mesh) {
        where["model"] = domain.mesh->fingerprint;
        where["padding"] = domain.padding;
    } else if (domain.kind == SampleDomain::Kind::Plane || domain.sphereWindow) {
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
    if (plan.window) {
        const PixelGrid& grid = *plan.window;
        form["grid"] = {{"size", {grid.width, grid.height}}, {"at", {grid.left, grid.top}}};
    }
    return form;
}

namespace {

/// The canonical form's member `key` at `at`, as its reader refuses it.
Error Unlike(const std::string& at, const std::string& key, std::string expected, const quib::Json* found,
             Error::Code code = Error::Code::WrongType) {
    return Refused(quib::MemberPointer(at, key), std::move(expected), found ? quib::JsonExcerpt(*found) : "",
                   found ? code : Error::Code::Missing);
}

/// The numbers of a pair [A, B] of `form`'s member `key`, if it is one.
std::optional<std::array<quib::Json, 2>> Pair(const quib::Json& form, const char* key) {
    const auto found = form.find(key);
    if (found == form.end() || !found->is_array() || found->size() != 2) return std::nullopt;
    return std::array<quib::Json, 2>{(*found)[0], (*found)[1]};
}

/// The whole numbers of the pair `key` of the object `form` at `at`.
std::array<long long, 2> WholePair(const quib::Json& form, const std::string& at, const char* key) {
    const auto pair = Pair(form, key);
    if (!pair || !quib::IsWholeNumber((*pair)[0]) || !quib::IsWholeNumber((*pair)[1]))
        throw Unlike(at, key, "two whole numbers of pixels", form.contains(key) ? &form[key] : nullptr);
    return {(*pair)[0].get<long long>(), (*pair)[1].get<long long>()};
}

/// A mesh domain as a canonical form spells it out (at `at`): its model only by its fingerprint, in a
/// model with no triangles, which no render takes.
SampleDomain MeshOfForm(const quib::Json& domain, const std::string& at) {
    const auto model = domain.find("model");
    if (model == domain.end() || !model->is_string())
        throw Unlike(at, "model", "the model's fingerprint", model == domain.end() ? nullptr : &*model);
    const auto padding = domain.find("padding");
    if (padding == domain.end() || !quib::IsWholeNumber(*padding) || *padding < 0 ||
        *padding > maxMeshPadding)
        throw Unlike(at, "padding", "a whole number of pixels",
                     padding == domain.end() ? nullptr : &*padding);
    SampleDomain where;
    where.kind = SampleDomain::Kind::Mesh;
    where.padding = padding->get<int>();
    auto named = std::make_shared<MeshModel>();
    named->fingerprint = model->get<std::string>();
    where.mesh = std::move(named);
    return where;
}

/// The domain a canonical form's "domain" (at `at`) spells out.
SampleDomain DomainOfForm(const quib::Json* domain, const std::string& at) {
    if (!domain || !domain->is_object() || !domain->contains("kind") ||
        ((*domain)["kind"] != "plane" && (*domain)["kind"] != "sphere" && (*domain)["kind"] != "mesh"))
        throw Unlike(at, "domain", "an object with \"kind\": \"plane\", \"sphere\" or \"mesh\"", domain);
    SampleDomain where;
    if ((*domain)["kind"] == "mesh") return MeshOfForm(*domain, quib::MemberPointer(at, "domain"));
    where.kind = (*domain)["kind"] == "plane" ? SampleDomain::Kind::Plane : SampleDomain::Kind::Sphere;
    const auto min = Pair(*domain, "min"), max = Pair(*domain, "max");
    if (!min || !max) return where;  // the whole sphere, which no point bounds
    const std::string domainAt = quib::MemberPointer(at, "domain");
    const std::array<quib::Json, 4> corners = {(*min)[0], (*min)[1], (*max)[0], (*max)[1]};
    if (!std::all_of(corners.begin(), corners.end(), [](const quib::Json& v) { return v.is_number(); }))
        throw Unlike(domainAt, "min", "two numbers for \"min\" and for \"max\"", &(*domain)["min"]);
    try {
        return where.Part({corners[0].get<double>(), corners[1].get<double>(), corners[2].get<double>(),
                           corners[3].get<double>()});
    } catch (Error& error) {
        throw std::move(error.WithSource(domainAt));
    }
}

/// The request a canonical form spells out, and its domain.
std::pair<ImageRequest, SampleDomain> RequestOfForm(const quib::Json& form, const std::string& at) {
    const auto member = [&](const char* key) { return form.contains(key) ? &form[key] : nullptr; };
    const auto whole = [&](const char* key, const char* expected) {
        if (!member(key) || !quib::IsWholeNumber(*member(key))) throw Unlike(at, key, expected, member(key));
        return member(key)->get<long long>();
    };
    ImageRequest request;
    const auto [width, height] = WholePair(form, at, "size");
    request.width = width;
    request.height = height;
    if (const quib::Json* grid = member("grid")) {
        const std::string gridAt = quib::MemberPointer(at, "grid");
        if (!grid->is_object()) throw Unlike(at, "grid", R"({"size": [W, H], "at": [X, Y]})", grid);
        const auto [left, top] = WholePair(*grid, gridAt, "at");
        const auto [wholeWidth, wholeHeight] = WholePair(*grid, gridAt, "size");
        request.window = {left, top, width, height};
        request.width = wholeWidth;
        request.height = wholeHeight;
    }
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
    return {request, DomainOfForm(member("domain"), at)};
}

}  // namespace

ImagePlan PlanOfCanonicalForm(const quib::Json& form, const std::string& at) {
    if (!form.is_object()) throw Refused(at, "an object", quib::JsonExcerpt(form), Error::Code::WrongType);
    auto [request, domain] = RequestOfForm(form, at);
    request.threads = 1;
    const auto field = [&](const char* key) { return quib::MemberPointer(at, key); };
    const RequestFields fields = {field("type"),   field("size"),    field("size"),  field("domain"),
                                  field("grid"),   field("samples"), field("image"), field("depth"),
                                  field("levels"), "threads",        "parts",        "tile"};
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
