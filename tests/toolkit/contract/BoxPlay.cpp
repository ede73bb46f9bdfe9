#include "toolkit/contract/BoxPlay.h"

#include "toolkit/core/DisplayText.h"

namespace tarnset::contract {

std::vector<std::string> nonEmptyLines(const std::string& text) {
  std::vector<std::string> out;
  for (auto& line : tk::textLines(text)) {
    if (!line.empty()) out.push_back(std::move(line));
  }
  return out;
}

}  // namespace tarnset::contract
