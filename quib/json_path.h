#pragma once
/// @file
/// The paths by which the host runtime's messages name places in JSON, scenes and stored forms alike:
/// `nodes[2].params.Subdivision`.

#include <cstddef>
#include <string>

namespace quib {

/// The path of the member `key` of the object at `path`; the top level is the empty path.
std::string MemberPath(const std::string& path, const std::string& key);
/// The path of the element `index` of the list at `path`.
std::string ElementPath(const std::string& path, std::size_t index);

}  // namespace quib
