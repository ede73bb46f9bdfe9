#include "platform/PortList.h"

namespace tarnset {

std::string describePortAs(const std::string& path, const std::vector<std::string>& details) {
  std::string text = path;
  for (std::size_t i = 0; i < details.size(); ++i) text += (i == 0 ? " (" : ", ") + details[i];
  if (!details.empty()) text += ")";
  return text;
}

std::string joinNonEmpty(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& p : parts) {
    if (p.empty()) continue;
    if (!text.empty()) text += ", ";
    text += p;
  }
  return text;
}

}  // namespace tarnset
