#include "platform/PortList.h"

namespace tarnset {

std::string describePortAs(const std::string& path, const std::vector<std::string>& details) {
  std::string text = path;
  for (std::size_t i = 0; i < details.size(); ++i) text += (i == 0 ? " (" : ", ") + details[i];
  if (!details.empty()) text += ")";
  return text;
}

}  // namespace tarnset
