#pragma once
/// @file
/// The per-sample evaluation context.

#include "host/values.h"

/// What the host knows about one sample. Nodes pass it on to their parameters unchanged and never look
/// inside; the host's parameters read the sample position from it.
struct FunContext {
    Vec3d position;
};
