#include "platform/AppLocations.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tarnset {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> envValue(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr) return std::nullopt;
  return std::string(v);
}

// True when a new file can be made in dir: the only sure test on this system, where the
// read-only attribute of a folder says nothing and Program Files refuses ordinary users.
bool canCreateFileIn(const std::string& dir) {
  const std::string probe = (fs::path(dir) / ".tarnset-probe.tmp").string();
  const HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

}  // namespace

ConfigEnv ConfigEnv::fromProcess() {
  ConfigEnv env{std::nullopt, std::nullopt, std::nullopt};
  env.appData = envValue("APPDATA");
  return env;
}

std::string optionsFilePath(const std::string& programDir, const ConfigEnv& env,
                            const std::vector<std::string>& /*systemFolders*/) {
  std::error_code ec;
  const fs::path beside = fs::path(programDir) / kOptionsFileName;
  if (!programDir.empty()) {
    if (fs::exists(beside, ec)) return beside.string();
    if (fs::is_directory(programDir, ec) && canCreateFileIn(programDir)) return beside.string();
  }
  // A relative APPDATA would put the options wherever the program was started.
  if (!env.appData || env.appData->empty() || !fs::path(*env.appData).is_absolute()) return beside.string();
  const fs::path dir = fs::path(*env.appData) / "TarnsetADJ";
  fs::create_directories(dir, ec);
  return (dir / kOptionsFileName).string();
}

std::string backupsFolder(const ConfigEnv& /*env*/, const std::string& optionsFile) {
  if (optionsFile.empty()) return {};
  return (fs::path(optionsFile).parent_path() / "backups" / "").string();
}

}  // namespace tarnset
