#include "sim/SimCli.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>

namespace kvsim {

namespace {

bool parseDouble(const std::string& text, double& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

bool parseUnsigned(const std::string& text, unsigned long long limit, unsigned long long& out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || v > limit) return false;
  out = v;
  return true;
}

bool isHex4(const std::string& text) {
  return text.size() == 4 && text.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
}

}  // namespace

std::string usageText() {
  return "Usage: kv-tarn-sim [--link PATH] [--image FILE] [--sub-model HEX] [--no-pacing]\n"
         "                   [--fault NAME]... [--log FILE] [--temperature CELSIUS]\n"
         "                   [--drift C_PER_MIN] [--sd-noise N] [--seed N] [--signal DBU]\n"
         "                   [--records N] [--bench PORT [--bench-noise SCALE]]\n"
         "                   [--help | --version]\n"
         "\n"
         "Serves a virtual KV-Tarn transceiver on a pseudo-terminal. The first line printed is\n"
         "the device path to open as the serial port; it serves until SIGINT or SIGTERM.\n"
         "While it serves, SIGUSR1 makes the radio fall silent or answer again (each signal\n"
         "toggles; a clone read under way stops), SIGUSR2 spoils the next monitor answer\n"
         "(value bytes that are not hex digits, once), and SIGURG delays the next monitor\n"
         "answer by 1.4 s, past the program's answer wait (once). All are logged.\n"
         "\n"
         "With --bench it also serves the virtual bench: one SCPI instrument with the four roles\n"
         "of the bench (signal generator, frequency counter, power meter, deviation meter) on\n"
         "the virtual radio, on TCP port PORT of 127.0.0.1 (0: a free port). Its address is\n"
         "printed on the second line: bench TCPIP::127.0.0.1::PORT::SOCKET. Its generator feeds\n"
         "the radio's receiver; its counter and meters read the transmitter while the radio\n"
         "transmits. Bench commands, on any connection: SIM:PTT ON|OFF (key the transmitter),\n"
         "SIM:FAULT SILENT (answer nothing until NONE), SIM:FAULT GARBAGE (the next answer is\n"
         "garbage), SIM:FAULT ERROR (an error enters the error queue), SIM:FAULT DROP (the\n"
         "next measurement drops its connection), SIM:FAULT NONE; SIM:PTT? and SIM:FAULT? ask.\n"
         "The signal SIGRTMIN+1 (kill -RTMIN+1 PID) toggles the PTT.\n"
         "\n"
         "  --link PATH          also make PATH a symlink to the device (removed at exit)\n"
         "  --image FILE         EEPROM image of 15968 bytes (default: a factory image)\n"
         "  --sub-model HEX      sub-model code, four hex digits without a byte FE or FD\n"
         "                       (default 0100)\n"
         "  --no-pacing          send at once instead of at the line rate\n"
         "  --fault NAME         misbehave; repeatable. NAME is one of: silent, wrong-model,\n"
         "                       sub-model-0101, version-02, version-04, bad-checksum=K,\n"
         "                       bad-count, outside-image=K, silence-after=K, repeat-record=K,\n"
         "                       noise, echo, monitor-length, monitor-identity, monitor-nonhex,\n"
         "                       late-answer (the first monitor answer 1.4 s late)\n"
         "                       (K counts the 998 clone read records from 0, so 0..997;\n"
         "                       repeat-record=K sends record K again instead of K+1, 0..996).\n"
         "                       Faults that could never show are refused: silent beside\n"
         "                       anything but echo, version-02 with version-04,\n"
         "                       sub-model-0101 with another --sub-model, stream faults\n"
         "                       past a silence-after point\n"
         "  --log FILE           log every frame and event, one line each\n"
         "  --temperature CELSIUS\n"
         "                       the radio's temperature in degrees Celsius (default 25)\n"
         "  --drift C_PER_MIN    temperature drift per minute (default 0)\n"
         "  --sd-noise N         +-N counts of noise on the signal detector (default 0)\n"
         "  --seed N             seed of the noise generators (default 1)\n"
         "  --signal DBU         signal generator level at the antenna in dBu (default 10;\n"
         "                       the bench's generator sets it once it is first set)\n"
         "  --records N          the clone read sends N records of 16 bytes, 1..998 (default\n"
         "                       998): a radio whose memory ends early, as its identification\n"
         "                       says\n"
         "  --bench PORT         serve the virtual bench on 127.0.0.1:PORT (0..65535)\n"
         "  --bench-noise SCALE  noise of the bench's readings: 0 none, 1 a bench's (default),\n"
         "                       up to 10; seeded by --seed\n"
         "  --help               show this text\n"
         "  --version            show the program's version\n"
         "Every option but --fault may be given once.\n";
}

std::optional<CliConfig> parseCommandLine(const std::vector<std::string>& args, std::string& error) {
  CliConfig cfg;
  std::set<std::string> given;
  const auto fail = [&](std::string message) {
    error = std::move(message);
    return std::optional<CliConfig>{};
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (name.rfind("--", 0) == 0) {
      const auto eq = name.find('=');
      if (eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        name = name.substr(0, eq);
      }
    }
    const auto flag = [&]() {
      if (inlineValue) error = name + " takes no value";
      return !inlineValue;
    };
    const auto value = [&](std::string& out) {
      if (inlineValue) {
        out = *inlineValue;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string v;
    // A second value would silently replace the first.
    if (name.rfind("--", 0) == 0 && name != "--fault" && !given.insert(name).second) {
      return fail(name + " given twice");
    }
    if (name == "--help") {
      if (!flag()) return std::nullopt;
      cfg.help = true;
    } else if (name == "--version") {
      if (!flag()) return std::nullopt;
      cfg.version = true;
    } else if (name == "--no-pacing") {
      if (!flag()) return std::nullopt;
      cfg.options.pacing = false;
    } else if (name == "--link") {
      if (!value(cfg.linkPath)) return std::nullopt;
      if (cfg.linkPath.empty()) return fail("--link needs a path");
    } else if (name == "--image") {
      if (!value(cfg.imagePath)) return std::nullopt;
      if (cfg.imagePath.empty()) return fail("--image needs a file");
    } else if (name == "--log") {
      if (!value(cfg.logPath)) return std::nullopt;
      if (cfg.logPath.empty()) return fail("--log needs a file");
    } else if (name == "--sub-model") {
      if (!value(v)) return std::nullopt;
      if (!isHex4(v)) return fail("--sub-model needs four hex digits, not '" + v + "'");
      cfg.options.subModel = v;
    } else if (name == "--fault") {
      if (!value(v)) return std::nullopt;
      const auto fault = parseFault(v);
      if (!fault) return fail("unknown fault '" + v + "'");
      cfg.options.faults.push_back(*fault);
    } else if (name == "--temperature") {
      if (!value(v)) return std::nullopt;
      double c = 0;
      if (!parseDouble(v, c) || c < -40.0 || c > 100.0) {
        return fail("--temperature needs degrees Celsius from -40 to 100, not '" + v + "'");
      }
      cfg.options.temperatureC = c;
    } else if (name == "--drift") {
      if (!value(v)) return std::nullopt;
      double d = 0;
      if (!parseDouble(v, d) || std::fabs(d) > 10.0) {
        return fail("--drift needs degrees per minute from -10 to 10, not '" + v + "'");
      }
      cfg.options.driftCPerMinute = d;
    } else if (name == "--sd-noise") {
      if (!value(v)) return std::nullopt;
      unsigned long long n = 0;
      if (!parseUnsigned(v, 255, n)) return fail("--sd-noise needs 0..255, not '" + v + "'");
      cfg.options.sdNoise = static_cast<int>(n);
    } else if (name == "--seed") {
      if (!value(v)) return std::nullopt;
      unsigned long long n = 0;
      if (!parseUnsigned(v, 0xFFFFFFFFull, n)) {
        return fail("--seed needs 0..4294967295, not '" + v + "'");
      }
      cfg.options.seed = static_cast<std::uint32_t>(n);
    } else if (name == "--signal") {
      if (!value(v)) return std::nullopt;
      double d = 0;
      if (!parseDouble(v, d) || d < -130.0 || d > 40.0) {
        return fail("--signal needs dBu from -130 to 40, not '" + v + "'");
      }
      cfg.options.signalLevelDbu = d;
    } else if (name == "--records") {
      if (!value(v)) return std::nullopt;
      unsigned long long n = 0;
      if (!parseUnsigned(v, 998, n) || n < 1) return fail("--records needs 1..998, not '" + v + "'");
      cfg.options.records = static_cast<int>(n);
    } else if (name == "--bench") {
      if (!value(v)) return std::nullopt;
      unsigned long long n = 0;
      if (!parseUnsigned(v, 65535, n)) return fail("--bench needs a TCP port 0..65535, not '" + v + "'");
      cfg.benchPort = static_cast<int>(n);
    } else if (name == "--bench-noise") {
      if (!value(v)) return std::nullopt;
      double d = 0;
      if (!parseDouble(v, d) || d < 0.0 || d > 10.0)
        return fail("--bench-noise needs 0 to 10, not '" + v + "'");
      cfg.benchNoise = d;
    } else {
      return fail("unknown argument '" + args[i] + "'");
    }
  }
  if (given.count("--bench-noise") != 0 && !cfg.benchPort) return fail("--bench-noise needs --bench");
  // What the radio itself cannot serve (frame bytes in the sub-model, faults that never show).
  if (std::string refused = optionsError(cfg.options); !refused.empty()) return fail(std::move(refused));
  return cfg;
}

std::optional<Bytes> loadImageFile(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read image file '" + path + "'";
    return std::nullopt;
  }
  Bytes data;
  char c;
  while (data.size() <= static_cast<std::size_t>(eep::kImageSize) && in.get(c)) {
    data.push_back(static_cast<std::uint8_t>(c));
  }
  if (in.bad()) {
    error = "cannot read image file '" + path + "'";
    return std::nullopt;
  }
  if (data.size() != static_cast<std::size_t>(eep::kImageSize)) {
    error = "image file '" + path + "' must hold exactly 15968 bytes";
    return std::nullopt;
  }
  return data;
}

}  // namespace kvsim
