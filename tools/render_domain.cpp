// The part of a scene's domain an image covers.

#include "tools/commands.h"

namespace vantrel {

SampleDomain DomainFor(const SampleDomain& sceneDomain, const std::optional<std::array<double, 4>>& region,
                       const std::string& said) {
    SampleDomain domain = sceneDomain;
    if (!region) return domain;
    const auto [a, b, c, d] = *region;
    const bool sphere = domain.kind == SampleDomain::Kind::Sphere;
    if (!(a < c && b < d)) {
        throw InputError(
            said + ": expected A below C and B below D, from " +
            (sphere ? "longitude A, latitude B to longitude C, latitude D" : "(A, B) to (C, D)"));
    }
    if (sphere && !(a >= -180.0 && c <= 180.0 && b >= -90.0 && d <= 90.0)) {
        throw InputError(said +
                         ": the scene's domain is the sphere: expected longitudes from -180 to 180 and "
                         "latitudes from -90 to 90, in degrees");
    }
    domain.min = {a, b};
    domain.max = {c, d};
    domain.sphereWindow = sphere;
    return domain;
}

}  // namespace vantrel
