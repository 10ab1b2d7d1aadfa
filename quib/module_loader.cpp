// Loading a module through its three exports, and the process-wide registry of its descriptors.

#include "quib/module_loader.h"

#include <dlfcn.h>

#include <algorithm>
#include <mutex>
#include <new>

int Plugin::ObjectTypeFamily() {
    return 0;
}
bool Plugin::Hidden() {
    return false;
}

namespace quib {

namespace {

/// The descriptors of every loaded module, found by class id. Only loading, unloading and Clone touch
/// it, never an evaluation, so one mutex is enough.
struct Registry {
    std::mutex mutex;
    std::vector<std::pair<unsigned int, Plugin*>> entries;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

/// The text of the last dynamic-linking error, or a stand-in when there is none.
std::string LastDlError() {
    const char* text = dlerror();
    return text ? text : "no reason given";
}

}  // namespace

std::unique_ptr<Function> NodeType::Create() const {
    Plugged* created = descriptor->Create();
    auto* node = dynamic_cast<Function*>(created);
    if (!node) delete created;
    return std::unique_ptr<Function>(node);
}

Module::Module(const std::string& path) : path(path) {
    library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) throw ModuleError(path + ": not a loadable library: " + LastDlError());
    try {
        // Exports are looked up by plain name, so a module's symbol is an object pointer to convert.
        auto exported = [&](const char* name) {
            dlerror();
            void* symbol = dlsym(library, name);
            if (!symbol) throw ModuleError(path + ": no export " + name + ": " + LastDlError());
            return symbol;
        };
        auto* numPlugs = reinterpret_cast<NumPlugsFunction*>(exported("NumPlugs"));
        auto* plugin = reinterpret_cast<PluginFunction*>(exported("Plugin"));
        auto* versionOf = reinterpret_cast<VersionFunction*>(exported("Version"));

        version = versionOf();
        const int count = numPlugs();
        if (count < 0) {
            throw ModuleError(path + ": NumPlugs gave " + std::to_string(count) + ", expected 0 or more");
        }
        types.reserve(count);
        for (int index = 0; index < count; ++index) {
            Plugin* descriptor = plugin(index);
            if (!descriptor) {
                throw ModuleError(path + ": Plugin(" + std::to_string(index) +
                                  ") gave null, though NumPlugs gave " + std::to_string(count));
            }
            types.push_back({index, 0, {}, descriptor});
            types.back().classId = descriptor->ClassID();
            types.back().typeName = descriptor->TypeName();
        }

        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        for (const NodeType& type : types)
            registry.entries.emplace_back(type.classId, type.descriptor);
    } catch (...) {
        Unload();
        throw;
    }
}

Module::~Module() {
    Unload();
}

void Module::Unload() {
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        std::erase_if(registry.entries, [&](const auto& entry) {
            return std::any_of(types.begin(), types.end(),
                               [&](const NodeType& type) { return type.descriptor == entry.second; });
        });
    }
    for (const NodeType& type : types)
        ReleaseDescriptor(type.descriptor);
    types.clear();
    if (library) dlclose(library);
    library = nullptr;
}

const NodeType* Module::Find(const std::string& typeName) const {
    for (const NodeType& type : types) {
        if (type.typeName == typeName) return &type;
    }
    return nullptr;
}

const NodeType* Module::Find(unsigned int classId) const {
    for (const NodeType& type : types) {
        if (type.classId == classId) return &type;
    }
    return nullptr;
}

void ReleaseDescriptor(Plugin* descriptor) {
    ::operator delete(static_cast<void*>(descriptor));
}

Plugin* FindDescriptor(unsigned int classId) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    for (const auto& [id, descriptor] : registry.entries) {
        if (id == classId) return descriptor;
    }
    return nullptr;
}

}  // namespace quib
