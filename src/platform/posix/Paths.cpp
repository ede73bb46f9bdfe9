#include "platform/Paths.h"

namespace tarnset {

// The kernel takes a name's bytes as they are, and so does the library here.
std::filesystem::path pathFromUtf8(std::string_view name) {
  return std::filesystem::path(std::string(name));
}

std::string pathToUtf8(const std::filesystem::path& path) {
  return path.string();
}

}  // namespace tarnset
