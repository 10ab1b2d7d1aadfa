#pragma once
/// @file
/// The sample positions an image covers: a rectangle of the plane, the sphere of directions, or a
/// model's surface laid out as its UV texture.

#include <array>
#include <memory>

#include "host/values.h"
#include "quib/stored_form.h"
#include "scene/mesh_model.h"

namespace vantrel {

/// The most pixels of padding a mesh domain may ask for.
inline constexpr int maxMeshPadding = 256;

/// The set of sample positions an image covers.
struct SampleDomain {
    enum class Kind {
        Plane,   ///< the rectangle `min` .. `max` of the xy-plane, at z = 0
        Sphere,  ///< unit directions, as an equirectangular map
        Mesh     ///< a model's surface points, where its UV texture's pixel centres fall
    };

    Kind kind = Kind::Plane;
    Vec2d min{0.0, 0.0};
    Vec2d max{1.0, 1.0};
    /// Sphere only: when set, the window of longitudes `min.x` .. `max.x` and latitudes `min.y` ..
    /// `max.y`, in degrees, in place of the whole sphere; when not, `min` and `max` are not used.
    bool sphereWindow = false;
    /// Mesh only: the model the scene names, and the model itself once the scene has loaded it (null
    /// in a domain read from a render's description, which names the model only by its fingerprint).
    MeshReference meshReference;
    std::shared_ptr<const MeshModel> mesh;
    /// Mesh only: how far, in pixels, the texture reaches past the model's islands, so that filtering
    /// it shows no seam; further out it is transparent.
    int padding = 8;

    /// The sample position at the image point (u, v), where u runs from 0 at the left edge to 1 at the
    /// right and v from 0 at the top to 1 at the bottom.
    /// Plane: x = min.x + u (max.x - min.x), y = max.y - v (max.y - min.y), z = 0.
    /// (A mesh domain's positions are its raster's, tools/render/mesh_raster.h: this is not used.)
    /// Sphere: longitude lambda = (2u - 1) pi, from -180 degrees at the left to +180 at the right (the x
    /// axis in the middle); latitude phi = (1/2 - v) pi, from the north pole (+z) at the top to the south
    /// pole at the bottom; the position is (cos phi cos lambda, cos phi sin lambda, sin phi). A window
    /// of the sphere maps u and v onto its longitudes and latitudes as the plane maps them onto x and y.
    Vec3d Position(double u, double v) const;

    /// The height of an image `width` pixels wide whose pixels cover squares of the domain (twice as
    /// wide as high for the sphere, a degree a side for a window of it): a whole number of at least 1, which
    /// may be far beyond any image's size (about 5.12e302 for a plane 1e-300 wide and 1 high at 512), at most
    /// the largest double.
    double HeightFor(int width) const;

    /// The part of this domain `region` [A, B, C, D] picks: the plane's rectangle from (A, B) to (C, D),
    /// or the sphere's window from longitude A to C and latitude B to D in degrees. Throws quib::Error
    /// (BadInput, naming no source: the caller says how the region was given) when it is no such part.
    SampleDomain Part(const std::array<double, 4>& region) const;
};

/// The name of a domain's kind in a scene file: "plane", "sphere" or "mesh".
const char* DomainKindName(SampleDomain::Kind kind);

/// The domain a scene's "domain" object (at /domain) describes; a mesh domain's model is named, not yet
/// read. Throws quib::Error (BadInput) at the pointer of what is wrong.
SampleDomain ReadDomain(const quib::Json& domain);

}  // namespace vantrel
