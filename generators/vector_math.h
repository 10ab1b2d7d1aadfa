#pragma once
/// @file
/// Vector arithmetic the generators share beyond what the host's value types offer.

#include "host/values.h"

/// The dot product, summed in the order x, y, z.
inline double Dot(const Vec3d& a, const Vec3d& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
