#pragma once
/// @file
/// The descriptor of a node type, as a module hands it to the host.

#include <string>

class Plugged;

/// Describes one node type of a module and creates its nodes. A module's `Plugin(index)` export
/// returns a new descriptor; the host owns it from then on.
///
/// The order of the virtual functions is the binary interface between host and module: never add,
/// remove or reorder one. There is no virtual destructor: a descriptor holds no data of its own, so the
/// host releases the bare storage (see quib::ReleaseDescriptor) and never deletes through this type.
class Plugin {
public:
    /// The node type's class identifier; the nodes it creates answer the same from `ClassID`.
    virtual unsigned int ClassID() = 0;
    /// The kind of object the type creates (0 for function nodes).
    virtual int ObjectType() = 0;
    /// The family of `ObjectType`; the host's answer is 0.
    virtual int ObjectTypeFamily();
    /// A new node of this type, owned by the caller; null when it could not be allocated.
    virtual Plugged* Create() = 0;
    /// The type's name as the host lists it.
    virtual std::string TypeName() = 0;
    /// Whether the host hides the type from its node library; the host's answer is false.
    virtual bool Hidden();

protected:
    Plugin() = default;
    ~Plugin() = default;
};

/// The signatures of a module's three exports, looked up by these plain names.
using NumPlugsFunction = int();
using PluginFunction = Plugin*(int index);
using VersionFunction = float();
