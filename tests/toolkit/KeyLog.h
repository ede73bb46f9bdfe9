#pragma once
// The keys a window's preview and a list's handler see, recorded by the toolkit tests.
#include <string>
#include <vector>

#include "toolkit/Toolkit.h"

namespace tarnset::tktest {

// Records every key the window's preview and the list's handler see, as "window 40/0"
// and "list 40/0" (code/shift); the list consumes them while consume is true.
inline void logKeys(tk::Window& window, tk::ListBox& list, std::vector<std::string>& log,
                    const bool& consume) {
  window.onKeyDown = [&log](std::int16_t& code, std::int16_t shift) {
    log.push_back("window " + std::to_string(code) + "/" + std::to_string(shift));
  };
  list.onKeyDown = [&log, &consume](std::int16_t& code, std::int16_t shift) {
    log.push_back("list " + std::to_string(code) + "/" + std::to_string(shift));
    if (consume) code = 0;
  };
}

}  // namespace tarnset::tktest
