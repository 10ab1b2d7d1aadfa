#pragma once
/// @file
/// The modules a program has loaded: the product's node types and the host's own, or any other set.

#include <memory>
#include <string>
#include <vector>

#include "quib/module_loader.h"

namespace vantrel {

/// Loaded modules, searched in order for a node type. No two offer a type of the same name, and no two
/// the same class id (the loader refuses that already), so the order decides nothing a scene can see.
class ModuleSet {
public:
    using Member = std::shared_ptr<const quib::Module>;

    /// The set of `modules`, at least one. Throws quib::ModuleError when two offer a type of the same
    /// name (the message names both files).
    explicit ModuleSet(std::vector<Member> modules);
    /// The set of one module.
    explicit ModuleSet(Member module);
    /// The modules in the files `paths`, loaded in that order; throws what loading one throws, or what
    /// the constructor throws.
    static std::shared_ptr<ModuleSet> Load(const std::vector<std::string>& paths);

    const std::vector<Member>& Modules() const { return modules; }
    /// Every module's node types, module by module.
    std::vector<const quib::NodeType*> Types() const;
    /// The node type of this name or class id in the first module that offers one; null when none does.
    const quib::NodeType* Find(const std::string& typeName) const;
    const quib::NodeType* Find(unsigned int classId) const;
    /// The node type a scene's "type" names: a class id ("0x92512342") or a type name.
    const quib::NodeType* FindStored(const std::string& type) const;
    /// Each module's file and version, in order.
    std::vector<std::string> Paths() const;
    std::vector<float> Versions() const;
    /// The module that offers `type`, one of the types found through this set.
    const quib::Module& ModuleOf(const quib::NodeType& type) const;

private:
    std::vector<Member> modules;
};

}  // namespace vantrel
