#include "scene/module_set.h"

#include <map>
#include <optional>

#include "quib/stored_form.h"
#include "quib/text.h"

namespace vantrel {

ModuleSet::ModuleSet(std::vector<Member> modules) : modules(std::move(modules)) {
    if (this->modules.empty()) throw quib::ModuleError("no module to load");
    std::map<std::string, const quib::Module*> offeredBy;
    for (const Member& module : this->modules) {
        for (const quib::NodeType& type : module->Types()) {
            const auto [first, added] = offeredBy.emplace(type.typeName, module.get());
            if (!added) {
                throw quib::ModuleError(module->Path() + ": offers the node type " +
                                        quib::Quote(type.typeName) + ", which " + first->second->Path() +
                                        " offers already");
            }
        }
    }
}

ModuleSet::ModuleSet(Member module) : ModuleSet(std::vector<Member>{std::move(module)}) {}

std::shared_ptr<ModuleSet> ModuleSet::Load(const std::vector<std::string>& paths) {
    std::vector<Member> modules;
    for (const std::string& path : paths)
        modules.push_back(std::make_shared<const quib::Module>(path));
    return std::make_shared<ModuleSet>(std::move(modules));
}

std::vector<const quib::NodeType*> ModuleSet::Types() const {
    std::vector<const quib::NodeType*> types;
    for (const Member& module : modules) {
        for (const quib::NodeType& type : module->Types())
            types.push_back(&type);
    }
    return types;
}

const quib::NodeType* ModuleSet::Find(const std::string& typeName) const {
    for (const Member& module : modules) {
        if (const quib::NodeType* type = module->Find(typeName)) return type;
    }
    return nullptr;
}

const quib::NodeType* ModuleSet::Find(unsigned int classId) const {
    for (const Member& module : modules) {
        if (const quib::NodeType* type = module->Find(classId)) return type;
    }
    return nullptr;
}

const quib::NodeType* ModuleSet::FindStored(const std::string& type) const {
    const std::optional<unsigned int> classId = quib::ParseClassId(type);
    return classId ? Find(*classId) : Find(type);
}

std::vector<std::string> ModuleSet::Paths() const {
    std::vector<std::string> paths;
    for (const Member& module : modules)
        paths.push_back(module->Path());
    return paths;
}

std::vector<float> ModuleSet::Versions() const {
    std::vector<float> versions;
    for (const Member& module : modules)
        versions.push_back(module->Version());
    return versions;
}

const quib::Module& ModuleSet::ModuleOf(const quib::NodeType& type) const {
    for (const Member& module : modules) {
        for (const quib::NodeType& offered : module->Types()) {
            if (&offered == &type) return *module;
        }
    }
    return *modules.front();  // not one of the set's types: a caller's fault
}

}  // namespace vantrel
