#include "platform/Paths.h"

#include "platform/win32/Text.h"

namespace tarnset {

// Through the wide form, which is the path's own on this system.
std::filesystem::path pathFromUtf8(std::string_view name) {
  return std::filesystem::path(win32::widen(name));
}

std::string pathToUtf8(const std::filesystem::path& path) {
  return win32::utf8(path.native());
}

}  // namespace tarnset
