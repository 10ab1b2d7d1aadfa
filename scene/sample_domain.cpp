#include "scene/sample_domain.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "quib/error.h"
#include "quib/text.h"

namespace vantrel {
namespace {

using quib::Error;

/// Whether an extent of the plane, max - min, overflows: the largest doubles are 1.8e308 from 0.
bool Overflows(const Vec2d& min, const Vec2d& max) {
    return std::isinf(max.x - min.x) || std::isinf(max.y - min.y);
}

/// The point the fraction t of the way from a to b. Where b - a overflows, the same from a / 2 to b / 2,
/// doubled: halving is exact for numbers that large, and half of any extent fits in a double.
double Along(double a, double b, double t, bool overflows) {
    return overflows ? 2.0 * (a / 2.0 + t * (b / 2.0 - a / 2.0)) : a + t * (b - a);
}

[[noreturn]] void Refuse(Error::Code code, const std::string& pointer, const std::string& expected,
                         std::string found = {}) {
    throw Error::Expected(code, pointer, expected, std::move(found));
}

Vec2d ReadPoint(const quib::Json& point, const std::string& pointer) {
    if (!point.is_array() || point.size() != 2 || !point[0].is_number() || !point[1].is_number() ||
        !std::isfinite(point[0].get<double>()) || !std::isfinite(point[1].get<double>())) {
        Refuse(Error::Code::WrongType, pointer, "a point [x, y] of two finite numbers",
               quib::JsonExcerpt(point));
    }
    return {point[0].get<double>(), point[1].get<double>()};
}

}  // namespace

Vec3d SampleDomain::Position(double u, double v) const {
    if (kind == Kind::Plane) {
        const bool overflows = Overflows(min, max);
        return {Along(min.x, max.x, u, overflows), Along(max.y, min.y, v, overflows), 0.0};
    }
    constexpr double radian = std::numbers::pi / 180.0;
    const double longitude =
        sphereWindow ? Along(min.x, max.x, u, false) * radian : (2.0 * u - 1.0) * std::numbers::pi;
    const double latitude =
        sphereWindow ? Along(max.y, min.y, v, false) * radian : (0.5 - v) * std::numbers::pi;
    const double ring = std::cos(latitude);  // the radius of the circle of latitude
    return {ring * std::cos(longitude), ring * std::sin(longitude), std::sin(latitude)};
}

double SampleDomain::HeightFor(int width) const {
    // Halving both extents where one overflows keeps their ratio.
    const double scale = Overflows(min, max) ? 0.5 : 1.0;
    const double aspect = kind == Kind::Sphere && !sphereWindow
                              ? 0.5
                              : (max.y * scale - min.y * scale) / (max.x * scale - min.x * scale);
    const double height = std::round(width * aspect);
    // Not-a-number, from a plane without extent (which loading refuses), becomes 1 too; a ratio beyond
    // the largest double, from a plane far narrower than high, that double.
    return !(height >= 1.0) ? 1.0 : std::min(height, std::numeric_limits<double>::max());
}

SampleDomain SampleDomain::Part(const std::array<double, 4>& region) const {
    if (kind == Kind::Mesh) {
        throw Error(Error::Kind::BadInput,
                    "the scene's domain is a model's texture, which has no region: render a window of it");
    }
    const auto [a, b, c, d] = region;
    const bool sphere = kind == Kind::Sphere;
    if (!(a < c && b < d)) {
        throw Error(Error::Kind::BadInput,
                    std::string("expected A below C and B below D, from ") +
                        (sphere ? "longitude A, latitude B to longitude C, latitude D" : "(A, B) to (C, D)"));
    }
    if (sphere && !(a >= -180.0 && c <= 180.0 && b >= -90.0 && d <= 90.0)) {
        throw Error(Error::Kind::BadInput,
                    "the scene's domain is the sphere: expected longitudes from -180 to 180 and latitudes "
                    "from -90 to 90, in degrees");
    }
    SampleDomain part = *this;
    part.min = {a, b};
    part.max = {c, d};
    part.sphereWindow = sphere;
    return part;
}

namespace {

/// A whole number from `low` to `high` at `pointer`.
int ReadWhole(const quib::Json& value, const std::string& pointer, int low, int high) {
    if (!quib::IsWholeNumber(value) || value.get<double>() < low || value.get<double>() > high) {
        Refuse(value.is_number() ? Error::Code::OutOfRange : Error::Code::WrongType, pointer,
               "a whole number from " + std::to_string(low) + " to " + std::to_string(high),
               quib::JsonExcerpt(value));
    }
    return value.get<int>();
}

/// The model and padding of a mesh domain: "file" (with "uv") or "shape", and "padding".
void ReadMesh(const quib::Json& domain, SampleDomain& result) {
    MeshReference& reference = result.meshReference;
    for (const auto& [key, value] : domain.items()) {
        const std::string pointer = quib::MemberPointer("/domain", key);
        if (key == "kind") continue;
        if (key == "file") {
            if (!value.is_string() || value.get_ref<const std::string&>().empty() ||
                value.get_ref<const std::string&>().find('\0') != std::string::npos)
                Refuse(Error::Code::WrongType, pointer, "the model's file, relative to the scene's folder",
                       quib::JsonExcerpt(value));
            reference.file = value.get<std::string>();
        } else if (key == "shape") {
            const auto known = std::find(builtInShapes.begin(), builtInShapes.end(),
                                         value.is_string() ? value.get_ref<const std::string&>() : "");
            if (known == builtInShapes.end())
                Refuse(Error::Code::BadValue, pointer, "\"plane\", \"cube\", \"sphere\" or \"torus\"",
                       quib::JsonExcerpt(value));
            reference.shape = std::string(*known);
        } else if (key == "uv") {
            reference.uvSet = ReadWhole(value, pointer, 0, 31);
        } else if (key == "padding") {
            result.padding = ReadWhole(value, pointer, 0, maxMeshPadding);
        } else {
            Refuse(Error::Code::UnknownMember, pointer,
                   "\"kind\", \"file\", \"shape\", \"uv\" or \"padding\"", quib::Quote(key));
        }
    }
    if (reference.file.empty() == reference.shape.empty())
        Refuse(reference.file.empty() ? Error::Code::Missing : Error::Code::BadValue, "/domain",
               "a model: either \"file\" or \"shape\"", reference.file.empty() ? "" : "both");
    if (!reference.shape.empty() && domain.contains("uv"))
        Refuse(Error::Code::UnknownMember, "/domain/uv", "no \"uv\" for a built-in shape, which has one set");
}

}  // namespace

const char* DomainKindName(SampleDomain::Kind kind) {
    return kind == SampleDomain::Kind::Plane    ? "plane"
           : kind == SampleDomain::Kind::Sphere ? "sphere"
                                                : "mesh";
}

SampleDomain ReadDomain(const quib::Json& domain) {
    SampleDomain result;
    if (!domain.is_object())
        Refuse(Error::Code::WrongType, "/domain",
               "an object with \"kind\": \"plane\", \"sphere\" or \"mesh\"", quib::JsonExcerpt(domain));
    const auto kind = domain.find("kind");
    if (kind == domain.end() || (*kind != "plane" && *kind != "sphere" && *kind != "mesh")) {
        Refuse(kind == domain.end() ? Error::Code::Missing : Error::Code::BadValue, "/domain/kind",
               "\"plane\", \"sphere\" or \"mesh\"", kind == domain.end() ? "" : quib::JsonExcerpt(*kind));
    }
    if (*kind == "mesh") {
        result.kind = SampleDomain::Kind::Mesh;
        ReadMesh(domain, result);
        return result;
    }
    const bool plane = *kind == "plane";
    result.kind = plane ? SampleDomain::Kind::Plane : SampleDomain::Kind::Sphere;
    for (const auto& [key, value] : domain.items()) {
        if (key == "kind") continue;
        const std::string pointer = quib::MemberPointer("/domain", key);
        if (!plane || (key != "min" && key != "max")) {
            Refuse(Error::Code::UnknownMember, pointer,
                   plane ? "\"kind\", \"min\" or \"max\"" : "only \"kind\" in a sphere domain",
                   quib::Quote(key));
        }
        (key == "min" ? result.min : result.max) = ReadPoint(value, pointer);
    }
    if (!(result.min.x < result.max.x && result.min.y < result.max.y))
        Refuse(Error::Code::OutOfRange, "/domain/max", "a point above and to the right of /domain/min");
    return result;
}

}  // namespace vantrel
