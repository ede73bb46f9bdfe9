#include "platform/AppLocations.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace tarnset {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> envValue(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr) return std::nullopt;
  return std::string(v);
}

// A usable folder setting: set, not empty, and absolute (relative ones are ignored, as
// the base-directory convention asks).
bool usable(const std::optional<std::string>& dir) {
  return dir && !dir->empty() && (*dir)[0] == '/';
}

// The home folder: $HOME, else the password database's entry for this user.
std::string homeDir(const ConfigEnv& env) {
  if (usable(env.home)) return *env.home;
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr && found->pw_dir) {
    return found->pw_dir;
  }
  return {};
}

}  // namespace

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

std::vector<std::string> programFolders(const std::string& prefix) {
  return {"/usr", prefix};
}

ConfigEnv ConfigEnv::fromProcess() {
  return ConfigEnv{envValue("XDG_CONFIG_HOME"), envValue("XDG_RUNTIME_DIR"), envValue("HOME"),
                   envValue("XDG_DATA_HOME")};
}

std::string optionsFilePath(const std::string& programDir, const ConfigEnv& env,
                            const std::vector<std::string>& systemFolders) {
  std::error_code ec;
  const fs::path beside = fs::path(programDir) / kOptionsFileName;
  if (!programDir.empty()) {
    if (fs::exists(beside, ec)) return beside.string();
    if (fs::is_directory(programDir, ec) && ::access(programDir.c_str(), W_OK) == 0 &&
        !isUnderFolders(programDir, systemFolders)) {
      return beside.string();
    }
  }

  fs::path base;
  if (usable(env.xdgConfigHome)) {
    base = *env.xdgConfigHome;
  } else {
    const std::string home = homeDir(env);
    // Without any home folder there is nowhere better than beside the program.
    if (home.empty()) return beside.string();
    base = fs::path(home) / ".config";
  }
  const fs::path dir = base / "TarnsetADJ";
  fs::create_directories(dir, ec);
  return (dir / kOptionsFileName).string();
}

std::string backupsFolder(const ConfigEnv& env, const std::string& /*optionsFile*/) {
  fs::path base;
  if (usable(env.xdgDataHome)) {
    base = *env.xdgDataHome;
  } else {
    const std::string home = homeDir(env);
    if (home.empty()) return {};
    base = fs::path(home) / ".local" / "share";
  }
  return (base / "TarnsetADJ" / "backups" / "").string();
}

}  // namespace tarnset
