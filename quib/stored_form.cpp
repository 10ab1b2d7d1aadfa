// The stored form of a node: Function::Save and Function::Load.

#include "quib/stored_form.h"

namespace quib {

StoredFormError::StoredFormError(const std::string& path, const std::string& expected)
    : std::runtime_error(path + ": expected " + expected), path(path), expected(expected) {}

}  // namespace quib

void Function::Save(QuibOutputStream&) {
    throw std::logic_error("Function::Save: not yet");
}
void Function::Load(QuibInputStream&) {
    throw std::logic_error("Function::Load: not yet");
}
