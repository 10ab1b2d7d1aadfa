#pragma once
/// @file
/// The descriptor of a node type: a `Plugin` that holds no data and creates nodes of one class.

#include <new>
#include <string>

#include "host/plugin.h"

/// Descriptor for the node class `NodeClass`, which names its type with static members: `classId` (the
/// identifier both descriptor and node answer), `typeName` (the node's own name) and, where the host
/// lists the type under another name, `plugName`.
///
/// No exception leaves an operation the host calls: an exception that crosses into a host built by
/// another compiler ends the host's process, so each one ends here in the failure the interface has.
template <class NodeClass>
class NodePlug final : public Plugin {
public:
    unsigned int ClassID() noexcept override { return NodeClass::classId; }
    int ObjectType() noexcept override { return 0; }
    /// A new node, or null when its memory could not be had or its constructor failed (the memory is
    /// released, and whatever the constructor made with it).
    Plugged* Create() noexcept override {
        try {
            return new (std::nothrow) NodeClass();
        } catch (...) {
            return nullptr;
        }
    }
    /// The type's name; empty when its text could not be allocated.
    std::string TypeName() noexcept override {
        try {
            if constexpr (requires { NodeClass::plugName; }) {
                return NodeClass::plugName;
            } else {
                return NodeClass::typeName;
            }
        } catch (...) {
            return {};
        }
    }
};
