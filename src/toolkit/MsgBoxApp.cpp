#include "toolkit/MsgBoxApp.h"

#include "base/Common.h"
#include "base/TraceSink.h"
#include "base/Types.h"

namespace tarnset {

std::int16_t MsgBoxApp(tk::Toolkit& tk, const std::string& text, const std::string& details) {
  const std::string shown = ExpandNewLines(text);
  if (tk.trace() != nullptr) tk.trace()->message(shown, details);
  return tk.messageBox(shown, kAppTitle, details);
}

}  // namespace tarnset
