#pragma once
/// @file
/// Loads a module through its three exports and keeps its node-type descriptors.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/function.h"
#include "host/plugin.h"
#include "quib/error.h"

namespace quib {

/// A module that cannot be loaded or used: an error of kind BadModule whose message names the file and
/// what is wrong.
inline Error ModuleError(std::string message) {
    return Error(Error::Kind::BadModule, std::move(message));
}

/// One node type of a loaded module.
struct NodeType {
    int index = 0;             ///< the index the module's `Plugin` export was called with
    unsigned int classId = 0;  ///< the descriptor's `ClassID`
    std::string typeName;      ///< the descriptor's `TypeName`
    Plugin* descriptor = nullptr;

    /// A new node of this type, or null when the module could not create one (its descriptor gave
    /// null or let an exception out) or created something that is not a function node. The caller
    /// owns it.
    std::unique_ptr<Function> Create() const noexcept;
};

/// A loaded module: the library, its version and its node types. While it lives, the host's
/// `Function::Clone` finds the descriptors of its node types by class id. Destroying it releases the
/// descriptors and unloads the library; every node it created must be destroyed first.
class Module {
public:
    /// Loads the module in the file `path` (a name without a folder is a file in the current one).
    /// Throws ModuleError (a quib::Error) when the file is not a loadable library (on ELF systems: not a
    /// shared library of this host's kind, or shorter than its segments need, found before the system loader
    /// maps it), lacks one of the exports `NumPlugs`, `Plugin` and `Version`, gives a count outside 0 to
    /// 65536, returns null for an index below the count it gives or a descriptor with an empty type name (a
    /// module's answer when the name could not be allocated), lets an exception out of one of its functions
    /// (std::bad_alloc passes as it is), or offers a class id that another library loaded now offers already
    /// (the message names both files; the same file loaded twice is one library).
    explicit Module(const std::string& path);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    const std::string& Path() const { return path; }
    float Version() const { return version; }
    const std::vector<NodeType>& Types() const { return types; }
    /// The node type whose descriptor answers this type name or class id; null when there is none.
    const NodeType* Find(const std::string& typeName) const;
    const NodeType* Find(unsigned int classId) const;

private:
    /// Unregisters and releases the descriptors and unloads the library: whatever is held so far.
    void Unload();

    std::string path;
    void* library = nullptr;
    float version = 0.0f;
    std::vector<NodeType> types;
};

/// Releases a descriptor's storage. A descriptor has no destructor and owns nothing, so releasing the
/// bare object is sound.
void ReleaseDescriptor(Plugin* descriptor);

/// The descriptor for a class id among the modules loaded now, or null. Used by `Function::Clone`.
Plugin* FindDescriptor(unsigned int classId);

}  // namespace quib
