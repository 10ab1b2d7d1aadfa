#pragma once
/// @file
/// What the loaded modules offer, as `vantrel list --json` prints it and the editor and the Python
/// package read it: every node type with its module, parameters, curves and gradients, read from a node
/// its descriptor creates.

#include "quib/stored_form.h"
#include "scene/module_set.h"

namespace vantrel {

/// Where a user reads what the listed names mean, in the module's source tree.
inline constexpr const char* nodeGuide = "docs/nodes.md";

/// The listing of `modules`: {"module", "version", "guide", "modules": [{"module", "version"}, ...],
/// "types": [...]}, "module" and "version" those of the first module; each type names its "module".
quib::Json ListModule(const ModuleSet& modules);

/// A curve's form as the listing and the editor's plots name it: "grey" (one channel) or "rgb" (three).
const char* CurveFormName(const CurveHolder& curve);

}  // namespace vantrel
