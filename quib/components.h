#pragma once
/// @file
/// The one rule by which the host reads a value as another type: leading components are kept, missing
/// ones are 0 (alpha 1), a scalar fills every component (alpha 1), and a real becomes an int by
/// TruncateToInt. Parameter constants, the sample position and `@position` all follow it.

#include "host/param.h"
#include "host/values.h"

namespace quib {

using Components = Param::Components;

/// A value's components in storage order; unused trailing ones are 0.
Components ToComponents(int value);
Components ToComponents(double value);
Components ToComponents(const Vec3d& value);
Components ToComponents(const Vec4d& value);
Components ToComponents(const Color& value);

/// Writes the value made of the first `count` (1 to 4) of `value`'s components as the type of `out`.
void ConvertComponents(const Components& value, int count, int* out);
void ConvertComponents(const Components& value, int count, double* out);
void ConvertComponents(const Components& value, int count, Vec2d* out);
void ConvertComponents(const Components& value, int count, Vec3d* out);
void ConvertComponents(const Components& value, int count, Vec4d* out);
void ConvertComponents(const Components& value, int count, Color* out);
void ConvertComponents(const Components& value, int count, ColorA* out);
void ConvertComponents(const Components& value, int count, Quaternion* out);

}  // namespace quib
