#pragma once
/// @file
/// The descriptor of a node type: a `Plugin` that holds no data and creates nodes of one class.

#include <new>
#include <string>

#include "host/plugin.h"

/// Descriptor for the node class `NodeClass`, which names its type with static members: `classId` (the
/// identifier both descriptor and node answer), `typeName` (the node's own name) and, where the host
/// lists the type under another name, `plugName`.
template <class NodeClass>
class NodePlug final : public Plugin {
public:
    unsigned int ClassID() override { return NodeClass::classId; }
    int ObjectType() override { return 0; }
    /// A new node, or null when its memory could not be had. An exception from the node's constructor
    /// passes on to the host after the memory is released.
    Plugged* Create() override { return new (std::nothrow) NodeClass(); }
    std::string TypeName() override {
        if constexpr (requires { NodeClass::plugName; }) {
            return NodeClass::plugName;
        } else {
            return NodeClass::typeName;
        }
    }
};
