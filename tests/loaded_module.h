#pragma once
// The built modules, loaded once for a test program through their exports, and scenes made of them.

#include <memory>
#include <string>

#include "quib/module_loader.h"
#include "scene/module_set.h"

namespace vantrel::test {

/// The product's module at VANTREL_MODULE_PATH, loaded at first use and kept for the program's life.
inline const std::shared_ptr<const quib::Module>& TheModule() {
    static const auto module = std::make_shared<const quib::Module>(VANTREL_MODULE_PATH);
    return module;
}

/// The product's module and the host's node library at QUIB_NODES_PATH, as vantrel loads them by
/// default (the program needs vantrel_scene for this).
inline const std::shared_ptr<const ModuleSet>& TheModules() {
    static const std::shared_ptr<const ModuleSet> modules = std::make_shared<const ModuleSet>(
        std::vector<ModuleSet::Member>{TheModule(), std::make_shared<const quib::Module>(QUIB_NODES_PATH)});
    return modules;
}

}  // namespace vantrel::test
