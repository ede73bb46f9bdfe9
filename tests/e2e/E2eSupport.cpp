#include "E2eSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

namespace tarnset::e2e {

Scratch::Scratch() {
  std::random_device rd;
  path_ =
      fs::temp_directory_path() / ("tarnset-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
  fs::create_directories(path_ / "run");
  fs::create_directories(path_ / "config");
  fs::create_directories(path_ / "home");
  // The runtime folder must be private, as the desktop makes it.
  ::chmod((path_ / "run").c_str(), 0700);
}

Scratch::~Scratch() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

fs::path Scratch::copyExecutable(const fs::path& from) const {
  const fs::path to = path_ / from.filename();
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_all, fs::perm_options::add);
  return to;
}

std::vector<std::string> Scratch::environment(const std::vector<std::string>& set) const {
  std::vector<std::string> all = {
      "XDG_RUNTIME_DIR=" + (path_ / "run").string(),
      "XDG_CONFIG_HOME=" + (path_ / "config").string(),
      "HOME=" + (path_ / "home").string(),
  };
  all.insert(all.end(), set.begin(), set.end());
  return environmentWith(all, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_DATA_HOME",
                               "XDG_CACHE_HOME", "XDG_STATE_HOME", "XAUTHORITY"});
}

std::vector<std::uint8_t> readBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeBytes(const fs::path& p, const std::vector<std::uint8_t>& data) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void writeText(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t nl = text.find('\n', from);
    if (nl == std::string::npos) {
      lines.push_back(text.substr(from));
      break;
    }
    lines.push_back(text.substr(from, nl - from));
    from = nl + 1;
  }
  return lines;
}

std::vector<LoggedFrame> parseFrames(const std::string& logText) {
  std::vector<LoggedFrame> frames;
  for (const std::string& line : splitLines(logText)) {
    std::istringstream in(line);
    LoggedFrame f;
    std::string dir;
    if (!(in >> f.atMs >> dir >> f.baud) || (dir != "RX" && dir != "TX")) continue;
    f.fromRadio = dir == "TX";
    std::string hex;
    bool ok = true;
    while (in >> hex) {
      if (hex.size() != 2) {
        ok = false;
        break;
      }
      f.bytes.push_back(static_cast<std::uint8_t>(std::strtoul(hex.c_str(), nullptr, 16)));
    }
    if (ok && !f.bytes.empty()) frames.push_back(std::move(f));
  }
  return frames;
}

Simulator::Simulator(const Scratch& scratch, const fs::path& simBinary, const std::vector<std::string>& args,
                     const std::string& name)
    : link_((scratch / name).string()), log_(scratch / (name + ".log")) {
  const fs::path bin = scratch.copyExecutable(simBinary);
  Command c;
  c.argv = {bin.string(), "--link", link_, "--log", log_.string()};
  c.argv.insert(c.argv.end(), args.begin(), args.end());
  c.cwd = scratch.path().string();
  c.env = scratch.environment();
  process_ = std::make_unique<Background>(c);
  if (!process_->started()) return;
  // The first line is the device; the link exists by then.
  if (auto line = process_->readLine(10.0)) {
    device_ = *line;
    ready_ = !device_.empty() && fs::is_symlink(link_);
  }
}

Simulator::~Simulator() {
  process_->stop();
}

int Simulator::countInLog(const std::string& needle) const {
  const std::string text = logText();
  int n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size()))
    ++n;
  return n;
}

bool Simulator::waitForLog(const std::string& needle, int count, double timeoutSeconds) const {
  const double deadline = monotonicSeconds() + timeoutSeconds;
  for (;;) {
    if (countInLog(needle) >= count) return true;
    if (monotonicSeconds() > deadline) return false;
    timespec ts{0, 50 * 1000000L};
    ::nanosleep(&ts, nullptr);
  }
}

XServer::XServer() {
  const std::string xvfb = findProgram("Xvfb");
  xdotool_ = findProgram("xdotool");
  if (xvfb.empty() || xdotool_.empty()) {
    why_ = "Xvfb and xdotool are needed (scripts/install-deps installs them)";
    return;
  }
  const std::vector<std::string> options = {"-screen", "0",         "1280x1024x24", "-dpi",
                                            "96",      "-nolisten", "tcp",          "-noreset"};
  // Machines shared by several test runs may give this one display numbers of its own
  // (TARNSET_XVFB_DISPLAYS="9 10"): those are tried in turn, for a minute while the other
  // cases of the run hold them.
  if (const char* own = std::getenv("TARNSET_XVFB_DISPLAYS"); own != nullptr && *own != '\0') {
    std::string list = own;
    for (char& ch : list) ch = ch == ',' ? ' ' : ch;
    std::vector<std::string> numbers;
    std::istringstream words(list);
    for (std::string n; words >> n;) numbers.push_back(n);
    const double until = monotonicSeconds() + 60;
    while (display_.empty() && !numbers.empty() && monotonicSeconds() < until) {
      for (const std::string& n : numbers) {
        Command c;
        // With a display number, -displayfd writes it once the server is ready; a server
        // already on that number makes it end without a word.
        c.argv = {xvfb, ":" + n, "-displayfd", "1"};
        c.argv.insert(c.argv.end(), options.begin(), options.end());
        c.env = environmentWith({}, {"DISPLAY"});
        process_ = std::make_unique<Background>(c);
        const auto line = process_->started() ? process_->readLine(15.0) : std::nullopt;
        if (line && *line == n) {
          display_ = ":" + n;
          break;
        }
        why_ = "Xvfb did not start on :" + n + ": " + process_->takeErr();
        process_.reset();
      }
      if (display_.empty()) {
        timespec ts{0, 500 * 1000000L};
        ::nanosleep(&ts, nullptr);
      }
    }
    return;
  }
  Command c;
  // -displayfd writes the display number it found free to our standard output.
  c.argv = {xvfb, "-displayfd", "1"};
  c.argv.insert(c.argv.end(), options.begin(), options.end());
  c.env = environmentWith({}, {"DISPLAY"});
  process_ = std::make_unique<Background>(c);
  const auto line = process_->started() ? process_->readLine(15.0) : std::nullopt;
  if (!line || line->empty() || line->find_first_not_of("0123456789") != std::string::npos) {
    why_ = "Xvfb did not start: " + process_->takeErr();
    process_.reset();
    return;
  }
  display_ = ":" + *line;
}

RunResult XServer::xdotool(const std::vector<std::string>& args, double timeoutSeconds) const {
  Command c;
  c.argv = {xdotool_};
  c.argv.insert(c.argv.end(), args.begin(), args.end());
  c.env = environmentWith({"DISPLAY=" + display_});
  return run(c, timeoutSeconds);
}

}  // namespace tarnset::e2e
