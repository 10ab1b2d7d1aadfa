#include "quib/json_path.h"

namespace quib {

std::string MemberPath(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
}

std::string ElementPath(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

}  // namespace quib
