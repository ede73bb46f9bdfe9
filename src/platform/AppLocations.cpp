#include "platform/AppLocations.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tarnset {

namespace fs = std::filesystem;

bool isUnderFolders(const std::string& dir, const std::vector<std::string>& folders) {
  std::error_code ec;
  const fs::path d = fs::weakly_canonical(dir, ec);
  if (ec) return false;
  for (const std::string& f : folders) {
    if (f.empty()) continue;
    std::error_code fec;
    const fs::path root = fs::weakly_canonical(f, fec);
    if (fec || root == root.root_path()) continue;  // "/" would make every folder a system one
    const auto [rootEnd, dEnd] = std::mismatch(root.begin(), root.end(), d.begin(), d.end());
    if (rootEnd == root.end()) return true;
    (void)dEnd;
  }
  return false;
}

}  // namespace tarnset
