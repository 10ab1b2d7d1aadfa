#pragma once
/// @file
/// A scene's JSON checked as a graph before any node is made.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "quib/stored_form.h"
#include "scene/module_set.h"
#include "scene/output_type.h"
#include "scene/sample_domain.h"

namespace vantrel {

/// A scene that is sound as a graph: every node has a unique id and a known type, every link and the
/// output name a node, no links form a cycle, no chain of links is too deep and no sample too costly to
/// evaluate, and the domain is one.
struct CheckedScene {
    std::map<std::string, std::size_t> indexOf;  ///< node id to its index
    std::vector<const quib::NodeType*> types;    ///< each node's type, in the order of the file
    std::vector<std::size_t> updateOrder;        ///< node indices, each after the nodes it reads
    std::size_t output = 0;                      ///< the index of the output node
    SampleDomain domain;
    std::optional<OutputType> outputType;  ///< the type the scene is seen in, when it names one
    std::optional<int> samples;            ///< the sub-samples along a pixel's side, when it names them
};

/// Checks `root`, a scene's JSON, against the node types of `modules`. Throws quib::Error (BadInput) at
/// the pointer of the first fault.
CheckedScene CheckScene(const quib::Json& root, const ModuleSet& modules);

}  // namespace vantrel
