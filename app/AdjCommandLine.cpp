#include "AdjCommandLine.h"

namespace tarnset {

const char* const kAdjUsage = "usage: tarnset-adj [--trace FILE] | --help | --version\n";

const char* const kAdjHelp =
    "Aligns a KV-Tarn transceiver on its cloning cable: reads its EEPROM, steps the 17\n"
    "alignment items live with the arrow keys, keeps the monitor readings on screen, runs\n"
    "the TXF, RSSI, CAL and band-pass filter procedures and prints the parameter listing.\n"
    "\n"
    "Options:\n"
    "  --trace FILE  write a trace of the link to FILE while the program runs: every byte\n"
    "                on the line, each frame decoded, the waits and resends, the messages\n"
    "                shown (for a support request)\n"
    "  --help        show this text\n"
    "  --version     show the program's version\n"
    "\n"
    "The program reads Const.ini from its working directory and keeps its options in\n"
    "TarnsetADJ.rs (beside the program when that file exists there or its folder is\n"
    "writable and not a system folder, else in $XDG_CONFIG_HOME/TarnsetADJ/). The serial\n"
    "port is chosen in the Option menu; tarnset-cli ports shows and maps the COM numbers.\n";

std::optional<AdjCommandLine> parseAdjCommandLine(const std::vector<std::string>& args, std::string& error) {
  AdjCommandLine c;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help") {
      c.help = true;
    } else if (a == "--version") {
      c.version = true;
    } else if (a == "--trace") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        error = "option --trace needs a file";
        return std::nullopt;
      }
      c.trace = args[++i];
    } else {
      error = "unexpected argument '" + a + "'";
      return std::nullopt;
    }
  }
  return c;
}

}  // namespace tarnset
