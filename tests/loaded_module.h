#pragma once
// The built module, loaded once for a test program through its exports, and scenes made of it.

#include <memory>
#include <string>

#include "quib/module_loader.h"

namespace vantrel::test {

/// The module at VANTREL_MODULE_PATH, loaded at first use and kept for the program's life.
inline const std::shared_ptr<const quib::Module>& TheModule() {
    static const auto module = std::make_shared<const quib::Module>(VANTREL_MODULE_PATH);
    return module;
}

}  // namespace vantrel::test
