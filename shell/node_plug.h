#pragma once
/// @file
/// The descriptor of a node type: a `Plugin` that holds no data and creates nodes of one class.

#include <new>
#include <string>

#include "host/plugin.h"

/// Descriptor for the node class `NodeClass`, which names its type with two static members:
/// `classId` (the identifier both descriptor and node answer) and `plugName` (the name the host lists).
template <class NodeClass>
class NodePlug final : public Plugin {
public:
    unsigned int ClassID() override { return NodeClass::classId; }
    int ObjectType() override { return 0; }
    /// A new node, or null when its memory could not be had. An exception from the node's constructor
    /// passes on to the host after the memory is released.
    Plugged* Create() override { return new (std::nothrow) NodeClass(); }
    std::string TypeName() override { return NodeClass::plugName; }
};
