#pragma once
/// @file
/// What a module offers, as `vantrel list --json` prints it and the editor and the Python package read
/// it: every node type with its parameters, curves and gradients, read from a node its descriptor
/// creates.

#include "quib/module_loader.h"
#include "quib/stored_form.h"

namespace vantrel {

/// Where a user reads what the listed names mean, in the module's source tree.
inline constexpr const char* nodeGuide = "docs/nodes.md";

/// The listing of `module`: {"module", "version", "guide", "types": [...]}.
quib::Json ListModule(const quib::Module& module);

}  // namespace vantrel
